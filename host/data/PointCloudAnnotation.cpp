#include "host/data/PointCloudAnnotation.h"

#include "host/data/PointCloud.h"

namespace Dravelin {

PointCloudAnnotation::PointCloudAnnotation(Data* data) : DataAnnotation(data)
{
    connect.signalValueChanged.connect([this] { signalChanged.notify(); });
}

PointCloudAnnotation::~PointCloudAnnotation() = default;

bool PointCloudAnnotation::isCompatible(const Data* data)
{
    return dynamic_cast<const PointCloud*>(data) != nullptr;
}

QString PointCloudAnnotation::typeName() const
{
    return QStringLiteral("Point Cloud");
}

const PointCloud* PointCloudAnnotation::cloud() const
{
    return dynamic_cast<const PointCloud*>(data());
}

std::vector<Annotation::Polyline> PointCloudAnnotation::polylines() const
{
    const PointCloud* c = cloud();
    if (!c || !connect.value() || c->size() < 2)
        return {};
    return {Polyline{c->points(), true}};
}

std::vector<Eigen::Vector3d> PointCloudAnnotation::points() const
{
    const PointCloud* c = cloud();
    if (!c || connect.value())
        return {};
    return c->points();
}

}  // namespace Dravelin
