#include "host/dicom/annotations/RTStructureAnnotation.h"

#include "host/data/PointCloud.h"
#include "host/dicom/components/RTStructureDataComponent.h"

#include <QColor>

#include <algorithm>

namespace Dravelin::Dicom {

RTStructureAnnotation::RTStructureAnnotation(Data* data) : DataAnnotation(data)
{
    if (const RTStructureDataComponent* s = structure()) {
        auto channel = [](double v) { return static_cast<int>(std::clamp(v, 0.0, 1.0) * 255.0 + 0.5); };
        color = QColor(channel(s->color.x()), channel(s->color.y()), channel(s->color.z())).name();
        name = QString::fromStdString(s->roiName);
    }
}

RTStructureAnnotation::~RTStructureAnnotation() = default;

bool RTStructureAnnotation::isCompatible(const Data* data)
{
    return dynamic_cast<const PointCloud*>(data) && data->getComponent<RTStructureDataComponent>();
}

QString RTStructureAnnotation::typeName() const
{
    return QStringLiteral("RT Structure");
}

const RTStructureDataComponent* RTStructureAnnotation::structure() const
{
    return data() ? data()->getComponent<RTStructureDataComponent>() : nullptr;
}

std::vector<Annotation::Polyline> RTStructureAnnotation::polylines() const
{
    std::vector<Polyline> lines;
    if (const RTStructureDataComponent* s = structure())
        for (const RTStructureDataComponent::Contour& c : s->contours)
            if (c.points().size() > 1)
                lines.push_back(
                    Polyline{c.points(), c.geometricType() != "OPEN_PLANAR" && c.geometricType() != "OPEN_NONPLANAR"});
    return lines;
}

std::vector<Eigen::Vector3d> RTStructureAnnotation::points() const
{
    std::vector<Eigen::Vector3d> points;
    if (const RTStructureDataComponent* s = structure())
        for (const RTStructureDataComponent::Contour& c : s->contours)
            if (c.points().size() == 1)
                points.push_back(c.points().front());
    return points;
}

}  // namespace Dravelin::Dicom
