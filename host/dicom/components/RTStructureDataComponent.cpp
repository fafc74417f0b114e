#include "host/dicom/components/RTStructureDataComponent.h"

namespace Dravelin::Dicom {

QString RTStructureDataComponent::id() const
{
    return QStringLiteral("RTStructure");
}

std::unique_ptr<DataComponent> RTStructureDataComponent::clone() const
{
    auto copy = std::make_unique<RTStructureDataComponent>();
    copy->roiNumber = roiNumber;
    copy->roiName = roiName;
    copy->color = color;
    copy->contours = contours;
    copy->referencedSeriesUid = referencedSeriesUid;
    copy->referencedFrameOfReferenceUid = referencedFrameOfReferenceUid;
    return copy;
}

}  // namespace Dravelin::Dicom
