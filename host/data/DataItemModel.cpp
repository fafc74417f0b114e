#include "host/data/DataItemModel.h"

#include "host/data/Data.h"
#include "host/data/DataGroup.h"
#include "host/data/DataModel.h"
#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"

#include <QStringList>

namespace Dravelin {

DataItemModel::DataItemModel(DataModel* dataModel, QObject* parent) : QAbstractItemModel(parent), m_dataModel(dataModel)
{
    qRegisterMetaType<Dravelin::Data*>();
    if (!dataModel)
        return;
    connect(dataModel, &DataModel::rowAboutToBeInserted, this,
            [this](DataGroup* group, int row) { beginInsertRows(groupIndex(group), row, row); });
    connect(dataModel, &DataModel::rowInserted, this, [this] { endInsertRows(); });
    connect(dataModel, &DataModel::rowAboutToBeRemoved, this,
            [this](DataGroup* group, int row) { beginRemoveRows(groupIndex(group), row, row); });
    connect(dataModel, &DataModel::rowRemoved, this, [this] { endRemoveRows(); });
    connect(dataModel, &DataModel::dataChanged, this, &DataItemModel::onDataChanged);
    connect(dataModel, &DataModel::dataAdded, this, &DataItemModel::dataAdded);
    connect(dataModel, &DataModel::dataAboutToBeRemoved, this, &DataItemModel::dataAboutToBeRemoved);
    connect(dataModel, &QObject::destroyed, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

DataItemModel::~DataItemModel() = default;

DataModel* DataItemModel::dataModel() const
{
    return m_dataModel;
}

Data* DataItemModel::dataAt(const QModelIndex& index)
{
    return index.isValid() ? index.data(DataRole).value<Data*>() : nullptr;
}

QModelIndex DataItemModel::indexOf(const Data* data, int column) const
{
    if (!m_dataModel || !m_dataModel->contains(data))
        return QModelIndex();
    return createIndex(m_dataModel->rowOf(data), column, const_cast<Data*>(data));
}

QModelIndex DataItemModel::groupIndex(DataGroup* group) const
{
    return group ? indexOf(group) : QModelIndex();
}

QString DataItemModel::describe(const Data* data)
{
    if (!data)
        return QString();
    QStringList parts;
    if (!Data::modalityName(data->modality()).isEmpty())
        parts << Data::modalityName(data->modality());
    parts << Data::kindName(data->kind());
    if (auto* set = dynamic_cast<const SharedImageSet*>(data); set && !set->empty()) {
        const SharedImage* image = set->get(0);
        QString size = QStringLiteral("%1 x %2").arg(image->width()).arg(image->height());
        if (image->isVolume())
            size += QStringLiteral(" x %1").arg(image->slices());
        if (set->size() > 1)
            size += QStringLiteral(", %1 frames").arg(set->size());
        parts << size << pixelTypeName(image->pixelType());
    } else if (auto* cloud = dynamic_cast<const PointCloud*>(data)) {
        parts << QStringLiteral("%1 points").arg(cloud->size());
    } else if (auto* mesh = dynamic_cast<const Mesh*>(data)) {
        parts << QStringLiteral("%1 triangles").arg(mesh->triangles().size());
    } else if (auto* group = dynamic_cast<const DataGroup*>(data)) {
        parts << QStringLiteral("%1 items").arg(group->size());
    }
    return parts.join(QStringLiteral(", "));
}

QModelIndex DataItemModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!m_dataModel || column < 0 || column >= ColumnCount || row < 0)
        return QModelIndex();
    if (!parent.isValid()) {
        Data* d = m_dataModel->topLevel(row);
        return d ? createIndex(row, column, d) : QModelIndex();
    }
    auto* group = dynamic_cast<DataGroup*>(static_cast<Data*>(parent.internalPointer()));
    Data* child = group ? group->child(row) : nullptr;
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex DataItemModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return QModelIndex();
    const Data* d = static_cast<const Data*>(child.internalPointer());
    return groupIndex(d->parentGroup());
}

int DataItemModel::rowCount(const QModelIndex& parent) const
{
    if (!m_dataModel)
        return 0;
    if (!parent.isValid())
        return m_dataModel->topLevelCount();
    if (parent.column() != 0)
        return 0;
    auto* group = dynamic_cast<DataGroup*>(static_cast<Data*>(parent.internalPointer()));
    return group ? group->size() : 0;
}

int DataItemModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant DataItemModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    Data* d = static_cast<Data*>(index.internalPointer());
    switch (role) {
        case DataRole: return QVariant::fromValue(d);
        case Qt::DisplayRole:
        case Qt::EditRole: return index.column() == NameColumn ? d->name() : describe(d);
        case Qt::ToolTipRole: {
            QStringList lines{describe(d)};
            const Properties* p = d->properties();
            if (const QString file = p ? p->param(QStringLiteral("filename")).toString() : QString(); !file.isEmpty())
                lines << file;
            if (const auto* set = dynamic_cast<const SharedImageSet*>(d); set && !set->note().isEmpty())
                lines << set->note();
            return lines.join(QLatin1Char('\n'));
        }
        default: return QVariant();
    }
}

bool DataItemModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || index.column() != NameColumn || !m_dataModel)
        return false;
    const QString name = value.toString().trimmed();
    if (name.isEmpty())
        return false;
    m_dataModel->rename(static_cast<Data*>(index.internalPointer()), name);
    return true;
}

Qt::ItemFlags DataItemModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == NameColumn)
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant DataItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    return section == NameColumn ? tr("Name") : tr("Type");
}

void DataItemModel::onDataChanged(Data* data)
{
    const QModelIndex first = indexOf(data, 0);
    if (first.isValid())
        emit dataChanged(first, indexOf(data, ColumnCount - 1));
}

}  // namespace Dravelin

#include "moc_DataItemModel.cpp"
