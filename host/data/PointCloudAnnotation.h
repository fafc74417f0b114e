#pragma once

#include "host/data/DataAnnotation.h"

namespace Dravelin {

class PointCloud;

// Draws a point cloud as markers, or, with "connect" set, as one closed line through its
// points in order (a contour).
class PointCloudAnnotation : public DataAnnotation
{
public:
    explicit PointCloudAnnotation(Data* data);
    ~PointCloudAnnotation() override;

    static bool isCompatible(const Data* data);

    QString typeName() const override;
    std::vector<Polyline> polylines() const override;
    std::vector<Eigen::Vector3d> points() const override;

    Parameter<bool> connect{"connect", false, this};

private:
    const PointCloud* cloud() const;
};

}  // namespace Dravelin
