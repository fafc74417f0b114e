#include "host/ui/DataTreeWidget.h"

#include "host/data/DataDisplay.h"
#include "host/data/DataDisplayModel.h"
#include "host/data/DataItemModel.h"
#include "host/data/DataModel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>

namespace Dravelin {

DataTreeWidget::DataTreeWidget(DataItemModel* model, DataDisplay* display, QWidget* parent)
    : QTreeView(parent), m_items(model), m_display(display), m_model(new DataDisplayModel(model, display, this))
{
    setObjectName(QStringLiteral("dataTree"));
    setModel(m_model);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setUniformRowHeights(true);
    header()->setStretchLastSection(true);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    connect(this, &QWidget::customContextMenuRequested, this, &DataTreeWidget::showContextMenu);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &DataTreeWidget::selectedDataChanged);
    // New items open their groups so that their children can be seen.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent) { expand(parent); });
}

DataTreeWidget::~DataTreeWidget() = default;

DataList DataTreeWidget::selectedData() const
{
    QModelIndexList rows = selectionModel()->selectedRows(0);
    // Tree order, not click order, so that menus see the same list for the same selection.
    std::sort(rows.begin(), rows.end(), [this](const QModelIndex& a, const QModelIndex& b) {
        return visualRect(a).top() < visualRect(b).top() || (visualRect(a).top() == visualRect(b).top() && a < b);
    });
    DataList list;
    for (const QModelIndex& index : rows)
        list.add(DataItemModel::dataAt(index));
    return list;
}

void DataTreeWidget::setSelectedData(const DataList& data)
{
    QItemSelection selection;
    for (const Data* d : data) {
        const QModelIndex index = m_model->mapFromSource(m_items->indexOf(d));
        if (index.isValid())
            selection.select(index, index.siblingAtColumn(m_model->columnCount(index.parent()) - 1));
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void DataTreeWidget::deleteSelected()
{
    DataModel* model = m_items->dataModel();
    if (!model)
        return;
    const DataList selected = selectedData();
    for (Data* data : selected)
        // A group removed earlier in this loop took its children along.
        if (model->contains(data))
            model->remove(data);
}

void DataTreeWidget::setSelectedVisible(bool visible)
{
    if (!m_display)
        return;
    DataList shown = m_display->visibleData();
    for (Data* data : selectedData()) {
        if (visible && !shown.contains(data))
            shown.add(data);
        else if (!visible)
            shown.remove(data);
    }
    m_display->setVisibleData(shown);
}

void DataTreeWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && state() != EditingState) {
        deleteSelected();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void DataTreeWidget::showContextMenu(const QPoint& position)
{
    if (selectedData().empty())
        return;
    QMenu menu(this);
    const QModelIndex current = currentIndex();
    menu.addAction(tr("Rename"), this, [this, current] { edit(current.siblingAtColumn(0)); })
        ->setEnabled(selectedData().size() == 1);
    menu.addAction(tr("Show"), this, [this] { setSelectedVisible(true); });
    menu.addAction(tr("Hide"), this, [this] { setSelectedVisible(false); });
    menu.addSeparator();
    menu.addAction(tr("Delete"), this, &DataTreeWidget::deleteSelected);
    menu.exec(viewport()->mapToGlobal(position));
}

}  // namespace Dravelin

#include "moc_DataTreeWidget.cpp"
