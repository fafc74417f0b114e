#include "host/data/Geometry.h"

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>

namespace Dravelin::Geometry {

std::optional<Plane> fitPlane(const std::vector<Eigen::Vector3d>& points)
{
    if (points.size() < 3)
        return std::nullopt;
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    for (const auto& p : points)
        centre += p;
    centre /= static_cast<double>(points.size());
    Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
    for (const auto& p : points) {
        const Eigen::Vector3d d = p - centre;
        covariance += d * d.transpose();
    }
    covariance /= static_cast<double>(points.size());
    // Eigenvalues come in increasing order: the smallest belongs to the normal, and a second
    // one near zero as well means the points lie on a line.
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(covariance);
    if (solver.info() != Eigen::Success)
        return std::nullopt;
    const Eigen::Vector3d values = solver.eigenvalues();
    if (values[2] <= 0.0 || values[1] <= 1e-12 * values[2])
        return std::nullopt;
    Plane plane;
    plane.centre = centre;
    plane.normal = solver.eigenvectors().col(0).normalized();
    plane.rms = std::sqrt(std::max(0.0, values[0]));
    return plane;
}

}  // namespace Dravelin::Geometry
