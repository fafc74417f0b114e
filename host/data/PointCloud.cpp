#include "host/data/PointCloud.h"

namespace Dravelin {

PointCloud::PointCloud() = default;

PointCloud::PointCloud(std::vector<Eigen::Vector3d> points) : m_points(std::move(points)) {}

PointCloud::~PointCloud() = default;

std::unique_ptr<Data> PointCloud::copy() const
{
    return clone();
}

std::unique_ptr<PointCloud> PointCloud::clone() const
{
    auto result = std::make_unique<PointCloud>(m_points);
    copyBaseTo(*result);
    result->m_normals = m_normals;
    result->m_colors = m_colors;
    return result;
}

std::optional<Eigen::AlignedBox3d> PointCloud::bounds() const
{
    if (m_points.empty())
        return std::nullopt;
    Eigen::AlignedBox3d box;
    for (const auto& p : m_points)
        box.extend(p);
    return box;
}

bool PointCloud::isConsistent() const
{
    return (m_normals.empty() || m_normals.size() == m_points.size()) &&
           (m_colors.empty() || m_colors.size() == m_points.size());
}

}  // namespace Dravelin
