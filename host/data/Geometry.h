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

// Where the closed polygon `polygon` crosses the plane {x : normal . x = offset}: the stretches
// of the crossing line that lie inside the polygon, ordered along that line. Empty when the
// polygon does not reach the plane or lies in a parallel plane.
struct Segment
{
    Eigen::Vector3d from, to;
};
std::vector<Segment> planeSections(const std::vector<Eigen::Vector3d>& polygon, const Eigen::Vector3d& normal,
                                   double offset);

}  // namespace Dravelin::Geometry
