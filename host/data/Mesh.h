#pragma once

#include "host/data/Data.h"

#include <Eigen/Core>

#include <vector>

namespace Dravelin {

// A triangle surface in world coordinates (millimetres): vertices, triangles as three vertex
// indices each (counter-clockwise seen from outside), and optional per-vertex normals.
class Mesh : public Data
{
public:
    Mesh();
    Mesh(std::vector<Eigen::Vector3d> vertices, std::vector<Eigen::Vector3i> triangles);
    ~Mesh() override;

    int kind() const override { return KindMesh; }
    std::unique_ptr<Data> copy() const override;
    std::unique_ptr<Mesh> clone() const;
    std::optional<Eigen::AlignedBox3d> bounds() const override;

    const std::vector<Eigen::Vector3d>& vertices() const { return m_vertices; }
    std::vector<Eigen::Vector3d>& vertices() { return m_vertices; }
    const std::vector<Eigen::Vector3i>& triangles() const { return m_triangles; }
    std::vector<Eigen::Vector3i>& triangles() { return m_triangles; }
    const std::vector<Eigen::Vector3d>& normals() const { return m_normals; }
    std::vector<Eigen::Vector3d>& normals() { return m_normals; }

    // Every triangle index names an existing vertex, and normals are empty or one per vertex.
    bool isValid() const;
    // Per-vertex normals as the area-weighted mean of the adjacent triangles' normals.
    // Does nothing on an invalid mesh.
    void computeNormals();
    // Total surface area in square millimetres.
    double area() const;

private:
    std::vector<Eigen::Vector3d> m_vertices;
    std::vector<Eigen::Vector3i> m_triangles;
    std::vector<Eigen::Vector3d> m_normals;
};

}  // namespace Dravelin
