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

std::vector<Segment> planeSections(const std::vector<Eigen::Vector3d>& polygon, const Eigen::Vector3d& normal,
                                   double offset)
{
    std::vector<Eigen::Vector3d> hits;
    const std::size_t n = polygon.size();
    for (std::size_t i = 0; i < n && n > 2; ++i) {
        const Eigen::Vector3d& a = polygon[i];
        const Eigen::Vector3d& b = polygon[(i + 1) % n];
        const double da = normal.dot(a) - offset, db = normal.dot(b) - offset;
        // Half-open: a vertex on the plane counts as above it, so every crossing counts once and
        // the hits pair up.
        if ((da < 0) != (db < 0))
            hits.push_back(a + (b - a) * (da / (da - db)));
    }
    if (hits.size() < 2)
        return {};
    // The hits lie on one line; sort them along its widest extent and pair them inside-out.
    Eigen::Vector3d low = hits.front(), high = hits.front();
    for (const Eigen::Vector3d& h : hits) {
        low = low.cwiseMin(h);
        high = high.cwiseMax(h);
    }
    Eigen::Index axis = 0;
    (high - low).maxCoeff(&axis);
    std::sort(hits.begin(), hits.end(),
              [axis](const Eigen::Vector3d& p, const Eigen::Vector3d& q) { return p[axis] < q[axis]; });
    std::vector<Segment> segments;
    for (std::size_t i = 0; i + 1 < hits.size(); i += 2)
        segments.push_back({hits[i], hits[i + 1]});
    return segments;
}

}  // namespace Dravelin::Geometry
