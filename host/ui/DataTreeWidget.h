#pragma once

#include "host/data/DataList.h"

#include <QTreeView>

namespace Dravelin {

class DataDisplay;
class DataDisplayModel;
class DataItemModel;

// The data tree of the main window: every item of the data model with a check box that shows
// or hides it in the display. The selected rows are the data that menus and algorithms work
// on. Context menu and keys: rename (F2), delete (Del), show, hide.
class DataTreeWidget : public QTreeView
{
    Q_OBJECT
public:
    DataTreeWidget(DataItemModel* model, DataDisplay* display, QWidget* parent = nullptr);
    ~DataTreeWidget() override;

    // The selected items in tree order.
    DataList selectedData() const;
    void setSelectedData(const DataList& data);

    // Deletes the selected items from the data model.
    void deleteSelected();
    // Shows or hides the selected items.
    void setSelectedVisible(bool visible);

signals:
    void selectedDataChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showContextMenu(const QPoint& position);

    DataItemModel* m_items;
    DataDisplay* m_display;
    DataDisplayModel* m_model;
};

}  // namespace Dravelin
