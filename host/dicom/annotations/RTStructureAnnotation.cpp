#include "host/dicom/annotations/RTStructureAnnotation.h"

#include "host/data/PointCloud.h"
#include "host/dicom/components/RTStructureDataComponent.h"

#include <QColor>

namespace Dravelin::Dicom {

namespace {

const RTStructureDataComponent* structureOf(const Data* data)
{
    return dynamic_cast<const PointCloud*>(data) ? data->getComponent<RTStructureDataComponent>() : nullptr;
}

}  // namespace

RTStructureAnnotation::RTStructureAnnotation(Data* structure) : DataAnnotation(structure)
{
    if (const auto* rt = structureOf(structure)) {
        name = structure->name();
        color = QColor::fromRgbF(rt->color.x(), rt->color.y(), rt->color.z()).name();
    }
}

RTStructureAnnotation::~RTStructureAnnotation() = default;

bool RTStructureAnnotation::isCompatible(const Data* data)
{
    return structureOf(data) != nullptr;
}

QString RTStructureAnnotation::typeName() const
{
    return QStringLiteral("RT Structure");
}

std::vector<Annotation::Polyline> RTStructureAnnotation::polylines() const
{
    std::vector<Polyline> lines;
    if (const auto* rt = structureOf(data()))
        for (const auto& contour : rt->contours)
            if (contour.points().size() > 1)
                lines.push_back({contour.points(), contour.geometricType() == "CLOSED_PLANAR"});
    return lines;
}

std::vector<Eigen::Vector3d> RTStructureAnnotation::points() const
{
    std::vector<Eigen::Vector3d> markers;
    if (const auto* rt = structureOf(data()))
        for (const auto& contour : rt->contours)
            if (contour.points().size() == 1)
                markers.push_back(contour.points().front());
    return markers;
}

std::optional<Eigen::AlignedBox3d> RTStructureAnnotation::bounds() const
{
    return data() ? data()->bounds() : std::nullopt;
}

}  // namespace Dravelin::Dicom
