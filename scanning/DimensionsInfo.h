#pragma once

#include <array>

namespace Dravelin::Dicom {

// Geometry summary of a series: what it will load as, and at which spacing.
struct DimensionsInfo
{
    // 0 unknown, 1 single 2D image, 2 3D volume, 3 set of 2D images ("2D+t"),
    // 4 set of volumes ("3D+t"), 5 other
    int kind = 0;
    int width = 0;
    int height = 0;
    int slices = 0;
    // Along x (between columns, across `width`), y (between rows), z (between slices).
    std::array<double, 3> spacing{0.0, 0.0, 0.0};
    bool hasSpacing = false;  // a physical (metric) spacing, not a default

    bool operator==(const DimensionsInfo& o) const
    {
        return kind == o.kind && width == o.width && height == o.height && slices == o.slices && spacing == o.spacing &&
               hasSpacing == o.hasSpacing;
    }
    bool operator!=(const DimensionsInfo& o) const { return !(*this == o); }
};

}  // namespace Dravelin::Dicom
