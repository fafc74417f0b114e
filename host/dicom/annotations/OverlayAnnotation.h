#pragma once

#include "host/data/Annotation.h"

namespace Dravelin {
class SharedImageSet;
}

namespace Dravelin::Dicom {

// The DICOM overlay planes of an image set (its OverlayDataComponent) drawn over its slices:
// one bitmap per overlay and frame, set bits in the annotation's colour, the rest transparent,
// placed on the image frame the overlay belongs to. The image set is not owned; attach the
// annotation to it so that both go together.
class OverlayAnnotation : public Annotation
{
public:
    explicit OverlayAnnotation(const SharedImageSet* imageSet);
    ~OverlayAnnotation() override;

    QString typeName() const override;
    std::vector<Bitmap> bitmaps() const override;
    std::optional<Eigen::AlignedBox3d> bounds() const override;

private:
    void rebuild();

    struct Plane
    {
        QImage mask;  // Format_Alpha8: 255 where the overlay bit is set
        Eigen::Affine3d pixelToWorld;
    };
    std::vector<Plane> m_planes;
    int m_colorHandle = 0;
    std::vector<Bitmap> m_bitmaps;
};

}  // namespace Dravelin::Dicom
