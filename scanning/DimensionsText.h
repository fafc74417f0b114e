#pragma once

#include "scanning/DimensionsInfo.h"

#include <QString>

namespace Dravelin::Dicom {

// "3D (0.5mm x 0.5mm x 1.25mm)", "2D+t (Unknown Spacing)", "3D (No Spacing)": the kind, then
// the spacing with four significant digits.
QString dimensionsText(const DimensionsInfo& info);

}  // namespace Dravelin::Dicom
