#pragma once

#include <Eigen/Geometry>
#include <QFuture>

#include <memory>

class QThreadPool;

namespace Dravelin {
class Mesh;
class PointCloud;
class SharedImage;
}  // namespace Dravelin

namespace Dravelin::Dicom {

class RTStructureDataComponent;

// Makes the surface meshes of RT structures in the background. A mesh needs only the grid of
// the reference volume, not its voxels: every structure of a volume shares one read-only grid,
// and each fills a label map just large enough for itself. Jobs run on one pool of as many
// threads as the machine has cores, so the memory in use stays bounded however many
// structures are asked for at once.
class RTStructureMesher
{
public:
    // A reference volume's voxel grid: dimensions, spacing and image-to-world matrix.
    struct Grid
    {
        Eigen::Vector3i dimensions = Eigen::Vector3i::Ones();
        Eigen::Vector3d spacing = Eigen::Vector3d::Ones();
        Eigen::Affine3d imageToWorld = Eigen::Affine3d::Identity();
    };
    static std::shared_ptr<const Grid> gridOf(const SharedImage& reference);

    // True when the structure has a surface to make: a closed planar contour of three or more
    // points. Markers, open contours and empty structures have none.
    static bool hasSurface(const RTStructureDataComponent& structure);

    // The smoothed surface of one structure on `grid`; null when it has none or it misses the
    // grid. Runs on any thread.
    static std::unique_ptr<Mesh> mesh(const PointCloud& structure, const Grid& grid);

    // Runs mesh() on the shared meshing pool; the result is owned by whoever takes it.
    static QFuture<Mesh*> run(std::shared_ptr<const PointCloud> structure, std::shared_ptr<const Grid> grid);
    // The meshing pool: at most one thread per core.
    static QThreadPool& pool();
};

}  // namespace Dravelin::Dicom
