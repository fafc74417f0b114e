#include "host/data/DataModel.h"

#include "host/core/Log.h"
#include "host/data/Data.h"
#include "host/data/DataGroup.h"

#include <QPointer>
#include <QThread>

#include <algorithm>
#include <set>

namespace Dravelin {

namespace {

// The item and, for groups, every descendant, parents first.
std::vector<Data*> subtree(Data* data)
{
    std::vector<Data*> result{data};
    if (auto* group = dynamic_cast<DataGroup*>(data)) {
        std::vector<Data*> sub = group->descendants();
        result.insert(result.end(), sub.begin(), sub.end());
    }
    return result;
}

}  // namespace

DataModel::DataModel(QObject* parent) : QObject(parent) {}

DataModel::~DataModel()
{
    // Listeners may still hold the signal handles of the items; disconnect before deleting.
    for (auto& [data, handle] : m_members)
        const_cast<Data*>(data)->signalChanged.disconnect(handle);
    m_members.clear();
}

Data* DataModel::add(std::unique_ptr<Data> data, const QString& name, DataGroup* group)
{
    if (!data)
        return nullptr;
    if (group && !contains(group)) {
        DRAVELIN_LOG(3, "DataModel", "Data cannot be added to a group that is not in the data model: " + data->name());
        return nullptr;
    }
    Data* raw = data.get();
    for (Data* d : subtree(raw)) {
        QString wanted = d == raw && !name.isEmpty() ? name : d->name();
        if (wanted.trimmed().isEmpty())
            wanted = Data::kindName(d->kind());
        d->setName(uniqueName(wanted.trimmed()));
        // Reserve the name for the following descendants.
        m_members.emplace(d, 0);
    }
    const int row = group ? group->size() : topLevelCount();
    emit rowAboutToBeInserted(group, row);
    if (group)
        group->add(std::move(data));
    else
        m_items.push_back(std::move(data));
    for (Data* d : subtree(raw))
        attach(d);
    emit rowInserted(group, row);
    for (Data* d : subtree(raw))
        emit dataAdded(d);
    return raw;
}

std::vector<Data*> DataModel::add(OwningDataList list, const QString& name, DataGroup* group)
{
    std::vector<Data*> added;
    for (auto& d : list.release())
        if (Data* a = add(std::move(d), name, group))
            added.push_back(a);
    return added;
}

bool DataModel::remove(Data* data)
{
    std::vector<const Data*> gone;
    std::unique_ptr<Data> taken = takeInternal(data, gone);
    if (!taken)
        return false;
    taken.reset();
    for (const Data* d : gone)
        emit dataRemoved(d);
    return true;
}

std::unique_ptr<Data> DataModel::take(Data* data)
{
    std::vector<const Data*> gone;
    std::unique_ptr<Data> taken = takeInternal(data, gone);
    for (const Data* d : gone)
        emit dataRemoved(d);
    return taken;
}

std::unique_ptr<Data> DataModel::takeInternal(Data* data, std::vector<const Data*>& gone)
{
    if (!data || !contains(data))
        return nullptr;
    std::vector<Data*> items = subtree(data);
    std::reverse(items.begin(), items.end());  // children before parents
    for (Data* d : items)
        emit dataAboutToBeRemoved(d);
    // A listener may have removed it meanwhile.
    if (!contains(data))
        return nullptr;

    DataGroup* group = data->parentGroup();
    const int row = rowOf(data);
    emit rowAboutToBeRemoved(group, row);
    for (Data* d : items)
        detach(d);
    std::unique_ptr<Data> taken;
    if (group) {
        taken = group->take(data);
    } else {
        taken = std::move(m_items[static_cast<std::size_t>(row)]);
        m_items.erase(m_items.begin() + row);
    }
    emit rowRemoved(group, row);
    gone.assign(items.begin(), items.end());
    return taken;
}

void DataModel::clear()
{
    while (!m_items.empty())
        remove(m_items.back().get());
}

QString DataModel::rename(Data* data, const QString& name)
{
    if (!data || !contains(data))
        return QString();
    if (data->name() == name)
        return name;
    QString wanted = name.trimmed().isEmpty() ? Data::kindName(data->kind()) : name.trimmed();
    // The item's own name does not block itself.
    const QString old = data->name();
    data->setName(QString());
    data->setName(uniqueName(wanted));
    if (data->name() != old) {
        emit dataRenamed(data);
        emit dataChanged(data);
    }
    return data->name();
}

Data* DataModel::get(const QString& name) const
{
    for (Data* d : getAll())
        if (d->name() == name)
            return d;
    return nullptr;
}

std::vector<Data*> DataModel::getAll(int kind, int modality) const
{
    std::vector<Data*> result;
    for (const auto& item : m_items)
        for (Data* d : subtree(item.get()))
            if ((kind == 0 || d->kind() == kind) && (modality == 0 || d->modality() == modality))
                result.push_back(d);
    return result;
}

bool DataModel::contains(const Data* data) const
{
    return data && m_members.count(data) > 0;
}

Data* DataModel::topLevel(int row) const
{
    if (row < 0 || row >= topLevelCount())
        return nullptr;
    return m_items[static_cast<std::size_t>(row)].get();
}

int DataModel::rowOf(const Data* data) const
{
    if (!contains(data))
        return -1;
    if (const DataGroup* group = data->parentGroup())
        return group->indexOf(data);
    for (int i = 0; i < topLevelCount(); ++i)
        if (m_items[static_cast<std::size_t>(i)].get() == data)
            return i;
    return -1;
}

QString DataModel::uniqueName(const QString& wanted) const
{
    std::set<QString> used;
    for (const auto& [d, handle] : m_members)
        used.insert(d->name());
    if (!used.count(wanted))
        return wanted;
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)").arg(wanted).arg(n);
        if (!used.count(candidate))
            return candidate;
    }
}

void DataModel::attach(Data* data)
{
    QPointer<DataModel> self(this);
    const int handle = data->signalChanged.connect([self](const Data* d) {
        if (!self)
            return;
        if (QThread::currentThread() == self->thread())
            self->onChanged(d);
        else
            QMetaObject::invokeMethod(
                self.data(),
                [self, d] {
                    if (self)
                        self->onChanged(d);
                },
                Qt::QueuedConnection);
    });
    m_members[data] = handle;
}

void DataModel::detach(Data* data)
{
    auto it = m_members.find(data);
    if (it == m_members.end())
        return;
    data->signalChanged.disconnect(it->second);
    m_members.erase(it);
}

void DataModel::onChanged(const Data* data)
{
    // A queued notification may arrive after the item left the model.
    if (contains(data))
        emit dataChanged(const_cast<Data*>(data));
}

}  // namespace Dravelin

#include "moc_DataModel.cpp"
