#pragma once

#include <Eigen/Core>

#include <optional>
#include <vector>

namespace Dravelin::Geometry {

struct Plane
{
    Eigen::Vector3d centre;  // mean of the points
    Eigen::Vector3d normal;  // unit length
    double rms = 0.0;        // root mean square distance of the points from the plane
};

// The least-squares plane through `points` (contours, landmarks). Empty for fewer than three
// points or when they lie on one line.
std::optional<Plane> fitPlane(const std::vector<Eigen::Vector3d>& points);

}  // namespace Dravelin::Geometry
