#pragma once

#include "host/data/DataComponent.h"
#include "host/data/Geometry.h"

#include <Eigen/Core>

#include <memory>
#include <optional>
#include <vector>

namespace Dravelin {
class Mesh;
}

namespace Dravelin::Dicom {

// What the views draw for one RT structure: its contours as closed lines, each with the plane
// it lies in (slice views draw a contour only on the slice that contains its plane), and once
// made, the structure's surface mesh. Attached to the structure's point cloud; belongs to the
// display, so copies of the point cloud do not carry it.
class RTStructureRenderingDataComponent : public DataComponent
{
public:
    struct Polyline
    {
        std::vector<Eigen::Vector3d> points;
        std::optional<Geometry::Plane> plane;  // empty for contours that are not planar enough
    };

    RTStructureRenderingDataComponent();
    ~RTStructureRenderingDataComponent() override;

    QString id() const override;
    std::unique_ptr<DataComponent> clone() const override { return nullptr; }

    const std::vector<std::unique_ptr<Polyline>>& polylines() const { return m_polylines; }
    void addPolyline(std::unique_ptr<Polyline> polyline);

    // A mesh exists or is being made: set when the request goes out, so that each structure set
    // asks at most once.
    bool isMeshRequested() const { return m_meshRequested; }
    void setMeshRequested() { m_meshRequested = true; }
    Mesh* mesh() const { return m_mesh.get(); }
    void setMesh(std::unique_ptr<Mesh> mesh);

private:
    std::vector<std::unique_ptr<Polyline>> m_polylines;
    bool m_meshRequested = false;
    std::unique_ptr<Mesh> m_mesh;
};

}  // namespace Dravelin::Dicom
