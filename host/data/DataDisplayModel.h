#pragma once

#include <QIdentityProxyModel>
#include <QPointer>

namespace Dravelin {

class DataDisplay;
class DataItemModel;

// The data tree with a check box per item that shows or hides it in one display. Checking an
// item adds it to the display's visible data, unchecking removes it; changes made elsewhere
// (another list, the views) update the check boxes.
class DataDisplayModel : public QIdentityProxyModel
{
    Q_OBJECT
public:
    // `display` may be null: then no item is checkable. Neither argument is owned.
    DataDisplayModel(DataItemModel* model, DataDisplay* display, QObject* parent = nullptr);
    ~DataDisplayModel() override;

    DataDisplay* display() const { return m_display; }

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void onVisibleDataChanged();

    DataDisplay* m_display = nullptr;
    int m_handle = 0;
};

}  // namespace Dravelin
