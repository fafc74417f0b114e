#pragma once

#include "host/data/Data.h"

#include <QAbstractItemModel>
#include <QPointer>

namespace Dravelin {

class DataGroup;
class DataModel;

// The data model as a Qt tree for the data dock and the controllers' lists: one row per item,
// groups with their children. Column 0 is the name (editable: renames through the data model),
// column 1 a short description (kind, modality, size). Every cell answers DataRole with the
// item's Data* (as a QVariant holding a pointer).
class DataItemModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Role { DataRole = 257 };
    enum Column { NameColumn = 0, InfoColumn = 1, ColumnCount = 2 };

    explicit DataItemModel(DataModel* dataModel, QObject* parent = nullptr);
    ~DataItemModel() override;

    DataModel* dataModel() const;
    // The item of a row of this model (or of a proxy mapped to it), and the reverse.
    static Data* dataAt(const QModelIndex& index);
    QModelIndex indexOf(const Data* data, int column = 0) const;
    // A one-line description of an item: kind, modality and size.
    static QString describe(const Data* data);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // Forwarded from the data model, for controllers that only know the item model.
    void dataAdded(Dravelin::Data* data);
    void dataAboutToBeRemoved(Dravelin::Data* data);

private:
    QModelIndex groupIndex(DataGroup* group) const;
    void onDataChanged(Data* data);

    QPointer<DataModel> m_dataModel;
};

}  // namespace Dravelin
