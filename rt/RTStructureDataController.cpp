#include "rt/RTStructureDataController.h"

#include "host/app/ApplicationController.h"
#include "host/app/DefaultControllerDecorator.h"
#include "host/core/Log.h"
#include "host/core/NestedProgress.h"
#include "host/data/DataDisplay.h"
#include "host/data/DataDisplayModel.h"
#include "host/data/DataGroup.h"
#include "host/data/DataItemModel.h"
#include "host/data/DataModel.h"
#include "host/data/Geometry.h"
#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/ImageInfoDataComponent.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "host/dicom/components/RTStructureRenderingDataComponent.h"
#include "rt/RTStructureMesher.h"

#include <QColor>
#include <QCursor>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <map>
#include <utility>

namespace Dravelin::Dicom {

namespace {

bool isStructureSet(const Data* data)
{
    return dynamic_cast<const PointCloud*>(data) && data->hasComponent<RTStructureDataComponent>();
}

bool holdsStructureSet(const Data* data)
{
    if (isStructureSet(data))
        return true;
    if (const auto* group = dynamic_cast<const DataGroup*>(data)) {
        const auto all = group->descendants();
        return std::any_of(all.begin(), all.end(), isStructureSet);
    }
    return false;
}

// The data tree reduced to RT structure sets and the groups holding them, with each
// structure's colour in the description column.
class RTStructureFilterModel : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (index.column() == 1 && role == Qt::DecorationRole) {
            const auto* rt = structureOf(index);
            if (rt)
                return QColor::fromRgbF(rt->color.x(), rt->color.y(), rt->color.z(), 1.0);
        }
        return QSortFilterProxyModel::data(index, role);
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const QModelIndex source = sourceModel()->index(row, 0, parent);
        return holdsStructureSet(source.data(DataItemModel::DataRole).value<Data*>());
    }

private:
    static const RTStructureDataComponent* structureOf(const QModelIndex& index)
    {
        const Data* data = index.data(DataItemModel::DataRole).value<Data*>();
        return isStructureSet(data) ? data->getComponent<RTStructureDataComponent>() : nullptr;
    }
};

// The image set a structure set was drawn on: the first volume whose identifier matches.
SharedImageSet* referencedVolume(const DataModel& model, const RTStructureDataComponent& rt)
{
    const QString wanted = QString::fromStdString(rt.referencedIdentifier());
    for (Data* data : model.getAll(Data::KindVolume)) {
        const auto* info = data->getComponent<ImageInfoDataComponent>();
        if (info && info->identifier() == wanted)
            return dynamic_cast<SharedImageSet*>(data);
    }
    return nullptr;
}

}  // namespace

RTStructureDataController::RTStructureDataController() = default;

RTStructureDataController::~RTStructureDataController()
{
    for (auto& c : m_connections)
        QObject::disconnect(c);
    QObject::disconnect(m_dataAddedConnection);
    // Meshes still being made are deleted when they arrive; nobody waits for them here.
    for (QFutureWatcher<Mesh*>* watcher : m_watchers) {
        watcher->disconnect(this);
        const QFuture<Mesh*> future = watcher->future();
        QtConcurrent::run([future]() mutable { delete future.result(); });
    }
}

bool RTStructureDataController::createCompatible(const DataList& data, DataController** out)
{
    const auto clouds = data.getPointClouds();
    if (std::none_of(clouds.begin(), clouds.end(), [](PointCloud* c) { return isStructureSet(c); }))
        return false;
    if (out)
        *out = new RTStructureDataController;
    return true;
}

QString RTStructureDataController::title() const
{
    return tr("RT Structures");
}

void RTStructureDataController::init()
{
    m_meshProgress = std::make_unique<NestedProgress>(
        applicationController() ? applicationController()->progress() : nullptr, "RT structure meshes");
    DataItemModel* items = dataItemModel();
    DataDisplay* view = display();
    if (!items || !view) {
        DRAVELIN_LOG(4, "",
                     QStringLiteral("The RTStructureDataController only works with a DataItemModel and a "
                                    "DisplayWidgetMulti"));
        return;
    }
    QWidget* panel = widget();
    m_filter = new RTStructureFilterModel(panel);
    m_filter->setSourceModel(new DataDisplayModel(items, view, m_filter));
    m_filter->setRecursiveFilteringEnabled(false);
    m_tree = new QTreeView(panel);
    m_tree->setObjectName(QStringLiteral("rtStructureTree"));
    m_tree->setModel(m_filter);
    m_tree->header()->setStretchLastSection(true);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->expandAll();
    m_connections.push_back(
        connect(m_tree, &QWidget::customContextMenuRequested, this, &RTStructureDataController::onContextMenu));
    m_connections.push_back(connect(m_tree->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                                    &RTStructureDataController::onSelectionChanged));
    m_connections.push_back(connect(m_filter, &QAbstractItemModel::rowsInserted, m_tree, &QTreeView::expandAll));
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_tree);
    if (auto* frame = dynamic_cast<DefaultControllerDecorator*>(decorator()))
        frame->setResizable(true);
}

void RTStructureDataController::onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    DataDisplay* view = display();
    if (!view)
        return;
    DataList visible = view->visibleData();
    for (const QModelIndex& index : deselected.indexes())
        if (index.column() == 0)
            visible.remove(DataItemModel::dataAt(index));
    for (const QModelIndex& index : selected.indexes())
        if (index.column() == 0 && !visible.contains(DataItemModel::dataAt(index)))
            visible.add(DataItemModel::dataAt(index));
    view->setVisibleData(visible);
}

void RTStructureDataController::onContextMenu(const QPoint& position)
{
    m_menuData.clear();
    for (const QModelIndex& index : m_tree->selectionModel()->selectedRows())
        if (Data* data = DataItemModel::dataAt(index))
            m_menuData.push_back(data);
    if (m_menuData.empty())
        return;
    QMenu menu(m_tree);
    QAction* show = menu.addAction(tr("Show"));
    QAction* hide = menu.addAction(tr("Hide"));
    menu.addSeparator();
    QAction* remove = menu.addAction(tr("Remove"));
    QAction* chosen = menu.exec(m_tree->viewport()->mapToGlobal(position));
    if (!chosen || !display())
        return;
    for (Data* data : m_menuData) {  // entries deleted while the menu was open are gone from the list
        if (chosen == remove && dataModel())
            dataModel()->remove(data);
        else if (chosen == show || chosen == hide)
            display()->setVisible(data, chosen == show);
    }
    m_menuData.clear();
}

void RTStructureDataController::onDataDeleted(const Data* data)
{
    m_menuData.erase(std::remove(m_menuData.begin(), m_menuData.end(), data), m_menuData.end());
    m_awaitingReference.erase(std::remove(m_awaitingReference.begin(), m_awaitingReference.end(), data),
                              m_awaitingReference.end());
}

void RTStructureDataController::onDataAdded(Data* data)
{
    if (!dynamic_cast<SharedImageSet*>(data) || !dataModel())
        return;
    const std::vector<PointCloud*> waiting = std::exchange(m_awaitingReference, {});
    std::map<const SharedImageSet*, std::shared_ptr<const RTStructureMesher::Grid>> grids;
    for (PointCloud* structureSet : waiting)
        if (dataModel()->contains(structureSet))
            requestMesh(*structureSet, grids);  // waits again when this volume is not its reference
}

void RTStructureDataController::onVisibleDataChanged(const DataList& visible)
{
    // Structures of one volume shown together share its grid.
    std::map<const SharedImageSet*, std::shared_ptr<const RTStructureMesher::Grid>> grids;
    for (PointCloud* cloud : visible.getPointClouds()) {
        if (!isStructureSet(cloud))
            continue;
        if (!cloud->hasComponent<RTStructureRenderingDataComponent>())
            createPolylines(*cloud);
        requestMesh(*cloud, grids);
    }
}

void RTStructureDataController::createPolylines(PointCloud& structureSet)
{
    DRAVELIN_LOG(0, "", QStringLiteral("Creating RTStructureSet polylines for ") + structureSet.name());
    auto rendering = std::make_unique<RTStructureRenderingDataComponent>();
    for (const auto& contour : structureSet.getComponent<RTStructureDataComponent>()->contours) {
        auto line = std::make_unique<RTStructureRenderingDataComponent::Polyline>();
        line->points = contour.extractPoints();
        line->plane = Geometry::fitPlane(line->points);
        rendering->addPolyline(std::move(line));
    }
    structureSet.addComponent(std::move(rendering));
}

void RTStructureDataController::requestMesh(
    PointCloud& structureSet, std::map<const SharedImageSet*, std::shared_ptr<const RTStructureMesher::Grid>>& grids)
{
    auto* rendering = structureSet.getComponent<RTStructureRenderingDataComponent>();
    if (!rendering || rendering->isMeshRequested() || !dataModel())
        return;
    const auto* rt = structureSet.getComponent<RTStructureDataComponent>();
    if (!RTStructureMesher::hasSurface(*rt))
        return;  // markers, open contours and empty structures have no surface
    SharedImageSet* reference = referencedVolume(*dataModel(), *rt);
    if (!reference) {
        // The volume is often loaded moments after its structure set: the mesh waits for it.
        if (std::find(m_awaitingReference.begin(), m_awaitingReference.end(), &structureSet) ==
            m_awaitingReference.end()) {
            m_awaitingReference.push_back(&structureSet);
            DRAVELIN_LOG(1, "",
                         QStringLiteral("The mesh of ") + structureSet.name() +
                             QStringLiteral(" waits for its referenced volume to be loaded."));
        }
        if (!m_dataAddedConnection)
            m_dataAddedConnection =
                connect(dataModel(), &DataModel::dataAdded, this, &RTStructureDataController::onDataAdded);
        return;
    }
    if (!reference->selected()) {
        DRAVELIN_LOG(3, "",
                     QStringLiteral("Cannot create a mesh for ") + structureSet.name() +
                         QStringLiteral(" because referenced volume cannot be found."));
        return;
    }
    DRAVELIN_LOG(0, "", QStringLiteral("Creating RTStructureSet mesh for ") + structureSet.name());
    rendering->setMeshRequested();
    // The worker gets copies: the originals may change or go while it runs. Of the volume it
    // needs only the grid, not the voxels.
    std::shared_ptr<const RTStructureMesher::Grid>& grid = grids[reference];
    if (!grid)
        grid = RTStructureMesher::gridOf(*reference->selected());
    auto cloud = std::make_shared<PointCloud>(structureSet.points());
    cloud->setName(structureSet.name());
    cloud->addComponent(rt->clone());

    auto* watcher = new QFutureWatcher<Mesh*>(this);
    m_watchers.push_back(watcher);
    PointCloud* target = &structureSet;
    connect(watcher, &QFutureWatcher<Mesh*>::finished, this, [this, watcher, target] {
        m_watchers.erase(std::remove(m_watchers.begin(), m_watchers.end(), watcher), m_watchers.end());
        watcher->deleteLater();
        setMesh(target, watcher->result());
    });
    watcher->setFuture(RTStructureMesher::run(std::move(cloud), grid));
}

void RTStructureDataController::setMesh(PointCloud* structureSet, Mesh* mesh)
{
    std::unique_ptr<Mesh> owned(mesh);
    if (!dataModel() || !dataModel()->contains(structureSet)) {
        DRAVELIN_LOG(1, "",
                     QStringLiteral("PointCloud was deleted during mesh generation. Resulting mesh will be "
                                    "ignored."));
        return;
    }
    auto* rendering = structureSet->getComponent<RTStructureRenderingDataComponent>();
    if (!rendering)
        return;
    rendering->setMesh(std::move(owned));
    if (display())
        display()->refresh();
    DRAVELIN_LOG(0, "", QStringLiteral("Created mesh for ") + structureSet->name());
}

}  // namespace Dravelin::Dicom

#include "moc_RTStructureDataController.cpp"
