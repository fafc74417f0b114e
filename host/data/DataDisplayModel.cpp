#include "host/data/DataDisplayModel.h"

#include "host/data/Data.h"
#include "host/data/DataDisplay.h"
#include "host/data/DataGroup.h"
#include "host/data/DataItemModel.h"

#include <QPointer>
#include <QThread>

#include <functional>

namespace Dravelin {

DataDisplayModel::DataDisplayModel(DataItemModel* model, DataDisplay* display, QObject* parent)
    : QIdentityProxyModel(parent), m_display(display)
{
    setSourceModel(model);
    if (m_display) {
        QPointer<DataDisplayModel> self(this);
        m_handle = m_display->signalVisibleDataChanged.connect([self](const DataList&) {
            if (self)
                QMetaObject::invokeMethod(
                    self.data(),
                    [self] {
                        if (self)
                            self->onVisibleDataChanged();
                    },
                    Qt::AutoConnection);
        });
    }
}

DataDisplayModel::~DataDisplayModel()
{
    if (m_display)
        m_display->signalVisibleDataChanged.disconnect(m_handle);
}

QVariant DataDisplayModel::data(const QModelIndex& index, int role) const
{
    if (role == Qt::CheckStateRole && index.column() == 0 && m_display) {
        const Data* d = DataItemModel::dataAt(index);
        if (!d)
            return QVariant();
        // A group shows as checked when all of its items are visible, partly when some are.
        if (auto* group = dynamic_cast<const DataGroup*>(d)) {
            int visible = 0, total = 0;
            const DataList shown = m_display->visibleData();
            for (Data* child : group->descendants()) {
                if (dynamic_cast<DataGroup*>(child))
                    continue;
                ++total;
                visible += shown.contains(child) ? 1 : 0;
            }
            if (total == 0)
                return QVariant();
            return visible == 0 ? Qt::Unchecked : visible == total ? Qt::Checked : Qt::PartiallyChecked;
        }
        return m_display->isVisible(d) ? Qt::Checked : Qt::Unchecked;
    }
    return QIdentityProxyModel::data(index, role);
}

bool DataDisplayModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != 0 || !m_display)
        return QIdentityProxyModel::setData(index, value, role);
    Data* d = DataItemModel::dataAt(index);
    if (!d)
        return false;
    const bool visible = value.toInt() != Qt::Unchecked;
    DataList list = m_display->visibleData();
    std::vector<Data*> items{d};
    if (auto* group = dynamic_cast<DataGroup*>(d))
        items = group->descendants();
    for (Data* item : items) {
        if (dynamic_cast<DataGroup*>(item))
            continue;
        if (visible && !list.contains(item))
            list.add(item);
        else if (!visible)
            list.remove(item);
    }
    m_display->setVisibleData(list);
    onVisibleDataChanged();
    return true;
}

Qt::ItemFlags DataDisplayModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QIdentityProxyModel::flags(index);
    if (index.column() == 0 && m_display)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

void DataDisplayModel::onVisibleDataChanged()
{
    // Check states may change anywhere in the tree; a full-column update is cheap for a data tree.
    std::function<void(const QModelIndex&)> update = [&](const QModelIndex& parent) {
        const int rows = rowCount(parent);
        if (rows == 0)
            return;
        emit dataChanged(index(0, 0, parent), index(rows - 1, 0, parent), {Qt::CheckStateRole});
        for (int r = 0; r < rows; ++r)
            update(index(r, 0, parent));
    };
    update(QModelIndex());
}

}  // namespace Dravelin

#include "moc_DataDisplayModel.cpp"
