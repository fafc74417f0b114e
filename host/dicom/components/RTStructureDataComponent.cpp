#include "host/dicom/components/RTStructureDataComponent.h"

#include "host/dicom/components/ImageInfoDataComponent.h"

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

RTStructureDataComponent::ReferenceMatch RTStructureDataComponent::matchOf(const ImageInfoDataComponent* info) const
{
    if (!info)
        return ReferenceMatch::None;
    const QString frame = QString::fromStdString(referencedFrameOfReferenceUid);
    const QString series = QString::fromStdString(referencedSeriesUid);
    // Two known frames that differ rule the image set out, whatever the series says.
    if (!frame.isEmpty() && !info->frameOfReferenceUid().isEmpty() && frame != info->frameOfReferenceUid())
        return ReferenceMatch::None;
    if (!series.isEmpty() && series == info->seriesInstanceUid())
        return ReferenceMatch::Series;
    if (!frame.isEmpty() && frame == info->frameOfReferenceUid())
        return ReferenceMatch::FrameOfReference;
    return ReferenceMatch::None;
}

}  // namespace Dravelin::Dicom
