#include "host/data/Mesh.h"

#include <Eigen/Geometry>

namespace Dravelin {

Mesh::Mesh() = default;

Mesh::Mesh(std::vector<Eigen::Vector3d> vertices, std::vector<Eigen::Vector3i> triangles)
    : m_vertices(std::move(vertices)), m_triangles(std::move(triangles))
{
}

Mesh::~Mesh() = default;

std::unique_ptr<Data> Mesh::copy() const
{
    return clone();
}

std::unique_ptr<Mesh> Mesh::clone() const
{
    auto result = std::make_unique<Mesh>(m_vertices, m_triangles);
    copyBaseTo(*result);
    result->m_normals = m_normals;
    return result;
}

std::optional<Eigen::AlignedBox3d> Mesh::bounds() const
{
    if (m_vertices.empty())
        return std::nullopt;
    Eigen::AlignedBox3d box;
    for (const auto& v : m_vertices)
        box.extend(v);
    return box;
}

bool Mesh::isValid() const
{
    const int n = static_cast<int>(m_vertices.size());
    for (const auto& t : m_triangles)
        for (int i = 0; i < 3; ++i)
            if (t[i] < 0 || t[i] >= n)
                return false;
    return m_normals.empty() || m_normals.size() == m_vertices.size();
}

void Mesh::computeNormals()
{
    if (!isValid())
        return;
    m_normals.assign(m_vertices.size(), Eigen::Vector3d::Zero());
    for (const auto& t : m_triangles) {
        // The cross product's length is twice the area, which weights larger triangles more.
        const Eigen::Vector3d n = (m_vertices[t[1]] - m_vertices[t[0]]).cross(m_vertices[t[2]] - m_vertices[t[0]]);
        for (int i = 0; i < 3; ++i)
            m_normals[t[i]] += n;
    }
    for (auto& n : m_normals)
        if (n.norm() > 0.0)
            n.normalize();
}

double Mesh::area() const
{
    double sum = 0.0;
    const int n = static_cast<int>(m_vertices.size());
    for (const auto& t : m_triangles) {
        if (t.minCoeff() < 0 || t.maxCoeff() >= n)
            continue;
        sum += 0.5 * (m_vertices[t[1]] - m_vertices[t[0]]).cross(m_vertices[t[2]] - m_vertices[t[0]]).norm();
    }
    return sum;
}

}  // namespace Dravelin
