#pragma once

#include "scanning/DimensionsInfo.h"

#include <QString>

namespace Dravelin {

// "3D (0.5mm x 0.5mm x 1.25mm)", "2D+t (Unknown Spacing)", "3D (No Spacing)": the kind,
// then the spacing with four significant digits. Shared by the browser and the command line.
QString dimensionsText(const Dicom::DimensionsInfo& info);

}  // namespace Dravelin
