#include "rt/RTStructureMesher.h"

#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImage.h"
#include "host/dicom/components/RTStructureDataComponent.h"

#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

namespace Dravelin::Dicom {

namespace {

// Voxels kept around a structure: the surface filter needs background on every side.
constexpr int kMargin = 2;

}  // namespace

std::shared_ptr<const RTStructureMesher::Grid> RTStructureMesher::gridOf(const SharedImage& reference)
{
    auto grid = std::make_shared<Grid>();
    grid->dimensions = reference.dimensions();
    grid->spacing = reference.spacing();
    grid->imageToWorld = reference.imageToWorld();
    return grid;
}

bool RTStructureMesher::hasSurface(const RTStructureDataComponent& structure)
{
    return std::any_of(structure.contours.begin(), structure.contours.end(), [](const auto& contour) {
        return contour.geometricType() == "CLOSED_PLANAR" && contour.points().size() >= 3;
    });
}

std::unique_ptr<Mesh> RTStructureMesher::mesh(const PointCloud& structure, const Grid& grid)
{
    const auto* rt = structure.getComponent<RTStructureDataComponent>();
    if (!rt || !hasSurface(*rt))
        return nullptr;
    // The voxel box around the structure's contours, within the grid.
    const Eigen::Affine3d worldToVoxel = (grid.imageToWorld * Eigen::Scaling(grid.spacing)).inverse(Eigen::Affine);
    Eigen::Vector3d low = Eigen::Vector3d::Constant(1e300), high = Eigen::Vector3d::Constant(-1e300);
    for (const auto& contour : rt->contours)
        for (const Eigen::Vector3d& p : contour.points()) {
            const Eigen::Vector3d v = worldToVoxel * p;
            low = low.cwiseMin(v);
            high = high.cwiseMax(v);
        }
    Eigen::Vector3i first, last;
    for (int i = 0; i < 3; ++i) {
        first[i] = std::max(0, static_cast<int>(std::floor(std::max(low[i], -1e9))) - kMargin);
        last[i] = std::min(grid.dimensions[i] - 1, static_cast<int>(std::ceil(std::min(high[i], 1e9))) + kMargin);
        if (last[i] < first[i])
            return nullptr;  // outside the grid
    }
    const Eigen::Vector3i size = last - first + Eigen::Vector3i::Ones();
    auto crop = std::make_unique<SharedImage>(PixelType::UInt8, size.x(), size.y(), size.z());
    crop->setSpacing(grid.spacing);
    crop->setImageToWorld(grid.imageToWorld * Eigen::Translation3d(first.cast<double>().cwiseProduct(grid.spacing)));
    const std::unique_ptr<SharedImage> labels = RTStructureToLabelMap::rasterize({&structure}, *crop);
    if (!labels)
        return nullptr;
    std::unique_ptr<Mesh> surface = RTStructureToLabelMap::labelMapToMesh(*labels);
    if (surface && !surface->triangles().empty())
        return surface;
    return nullptr;
}

QFuture<Mesh*> RTStructureMesher::run(std::shared_ptr<const PointCloud> structure, std::shared_ptr<const Grid> grid)
{
    return QtConcurrent::run(&pool(), [structure, grid]() -> Mesh* {
        return structure && grid ? mesh(*structure, *grid).release() : nullptr;
    });
}

QThreadPool& RTStructureMesher::pool()
{
    // Never deleted: jobs may still run while the process ends, and nobody should wait for them.
    static QThreadPool* shared = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        return p;
    }();
    return *shared;
}

}  // namespace Dravelin::Dicom
