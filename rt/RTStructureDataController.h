#pragma once

#include "host/app/DataController.h"
#include "rt/RTStructureMesher.h"

#include <QObject>

#include <map>
#include <memory>
#include <vector>

class QItemSelection;
class QPoint;
class QSortFilterProxyModel;
class QTreeView;
template <typename T>
class QFutureWatcher;

namespace Dravelin {
class Mesh;
class NestedProgress;
class PointCloud;
class SharedImageSet;
}  // namespace Dravelin

namespace Dravelin::Dicom {

// The panel of loaded RT structure sets: a tree of the structures with their colours, where
// selecting shows a structure and deselecting hides it. A structure that becomes visible gets
// its contour lines at once and, when its reference volume is loaded, a surface mesh made in
// the background.
class RTStructureDataController : public QObject, public DataController
{
    Q_OBJECT
public:
    RTStructureDataController();
    ~RTStructureDataController() override;

    // True when `data` holds at least one RT structure point cloud; then a controller is
    // created into `out` when given.
    static bool createCompatible(const DataList& data, DataController** out);

    void init() override;
    QString title() const override;
    void onVisibleDataChanged(const DataList& visible) override;
    void onDataDeleted(const Data* data) override;
    // Takes `mesh` (may be null) for `structureSet`, unless the structure set is gone.
    void setMesh(PointCloud* structureSet, Mesh* mesh);

    QTreeView* treeView() const { return m_tree; }
    // Meshes asked for and not yet returned.
    int pendingMeshes() const { return static_cast<int>(m_watchers.size()); }

private:
    void createPolylines(PointCloud& structureSet);
    void requestMesh(PointCloud& structureSet,
                     std::map<const SharedImageSet*, std::shared_ptr<const RTStructureMesher::Grid>>& grids);
    void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void onContextMenu(const QPoint& position);
    void onDataAdded(Data* data);

    std::unique_ptr<NestedProgress> m_meshProgress;
    QSortFilterProxyModel* m_filter = nullptr;
    QTreeView* m_tree = nullptr;
    std::vector<QMetaObject::Connection> m_connections;
    std::vector<QFutureWatcher<Mesh*>*> m_watchers;
    // The data the context menu was opened for; cleared when it is deleted meanwhile.
    std::vector<Data*> m_menuData;
    // Structure sets shown before the volume they refer to was loaded: their meshes wait for it.
    std::vector<PointCloud*> m_awaitingReference;
    QMetaObject::Connection m_dataAddedConnection;
};

}  // namespace Dravelin::Dicom
