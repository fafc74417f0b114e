#pragma once

#include "host/data/DataGroup.h"
#include "host/data/DataList.h"
#include "host/data/OwningDataList.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace Dravelin {

// Owns every data item the application shows. Names are unique across the whole model
// (groups included), so that a name identifies an item in saved workspaces and settings.
//
// Two sets of signals: per-item notifications (dataAdded for every item, parents before
// children; dataAboutToBeRemoved / dataRemoved for every item, children before parents) for
// controllers, and row notifications (one per top-level or group insertion or removal) that
// item models turn into their own begin/end calls. Lives on the GUI thread; Data::notifyChanged
// from another thread is forwarded to it.
class DataModel : public QObject
{
    Q_OBJECT
public:
    explicit DataModel(QObject* parent = nullptr);
    ~DataModel() override;

    // Takes `data` under `group` (which must be in this model; null for top level). The item
    // is named `name`, or its own name when `name` is empty, or its kind when both are empty,
    // made unique with a " (2)", " (3)" ... suffix; descendants of an added group are named
    // uniquely too. Returns the added item, or null for null input or a foreign group.
    Data* add(std::unique_ptr<Data> data, const QString& name = QString(), DataGroup* group = nullptr);
    // Adds every item of `list` in order; with a name, the items are called name, name (2)...
    std::vector<Data*> add(OwningDataList list, const QString& name = QString(), DataGroup* group = nullptr);

    // Deletes `data` (and a group's children). False when it is not in this model.
    bool remove(Dravelin::Data* data);
    // Removes `data` without deleting it; null when it is not in this model.
    std::unique_ptr<Data> take(Dravelin::Data* data);
    void clear();

    // Renames within the model's uniqueness rule; returns the name given (empty when `data` is
    // not in this model).
    QString rename(Data* data, const QString& name);

    // The item called exactly `name`, or null.
    Data* get(const QString& name) const;
    // Every item (groups and their descendants included, depth first) of that kind and
    // modality; 0 matches any.
    std::vector<Data*> getAll(int kind = 0, int modality = 0) const;
    DataList getAllAsList(int kind = 0, int modality = 0) const { return DataList(getAll(kind, modality)); }
    bool contains(const Dravelin::Data* data) const;

    // Top-level items in order, and the row of an item under its group (or at top level).
    int topLevelCount() const { return static_cast<int>(m_items.size()); }
    Data* topLevel(int row) const;
    int rowOf(const Dravelin::Data* data) const;

    // A name not used yet, from `wanted`.
    QString uniqueName(const QString& wanted) const;

signals:
    void dataAdded(Dravelin::Data* data);
    void dataAboutToBeRemoved(Dravelin::Data* data);
    // `data` is gone; use the pointer only to compare.
    void dataRemoved(const Dravelin::Data* data);
    void dataChanged(Dravelin::Data* data);
    void dataRenamed(Dravelin::Data* data);

    // Row notifications: `group` null means top level.
    void rowAboutToBeInserted(Dravelin::DataGroup* group, int row);
    void rowInserted(Dravelin::DataGroup* group, int row);
    void rowAboutToBeRemoved(Dravelin::DataGroup* group, int row);
    void rowRemoved(Dravelin::DataGroup* group, int row);

private:
    void attach(Data* data);
    void detach(Data* data);
    std::unique_ptr<Data> takeInternal(Data* data, std::vector<const Data*>& gone);
    void onChanged(const Data* data);

    std::vector<std::unique_ptr<Data>> m_items;
    // Every item in the model with its change-signal handle.
    std::map<const Data*, int> m_members;
};

}  // namespace Dravelin
