#pragma once

#include "host/data/Data.h"

#include <Eigen/Core>

#include <vector>

namespace Dravelin {

// Points in world coordinates (millimetres), optionally with a normal and a colour each.
// Normals and colours are either empty or as long as the points.
class PointCloud : public Data
{
public:
    PointCloud();
    explicit PointCloud(std::vector<Eigen::Vector3d> points);
    ~PointCloud() override;

    int kind() const override { return KindPointCloud; }
    std::unique_ptr<Data> copy() const override;
    std::unique_ptr<PointCloud> clone() const;
    std::optional<Eigen::AlignedBox3d> bounds() const override;

    const std::vector<Eigen::Vector3d>& points() const { return m_points; }
    std::vector<Eigen::Vector3d>& points() { return m_points; }
    int size() const { return static_cast<int>(m_points.size()); }
    void addPoint(const Eigen::Vector3d& point) { m_points.push_back(point); }

    const std::vector<Eigen::Vector3d>& normals() const { return m_normals; }
    std::vector<Eigen::Vector3d>& normals() { return m_normals; }
    const std::vector<Eigen::Vector3f>& colors() const { return m_colors; }
    std::vector<Eigen::Vector3f>& colors() { return m_colors; }
    // True when normals and colours are each empty or match the points.
    bool isConsistent() const;

private:
    std::vector<Eigen::Vector3d> m_points;
    std::vector<Eigen::Vector3d> m_normals;
    std::vector<Eigen::Vector3f> m_colors;
};

}  // namespace Dravelin
