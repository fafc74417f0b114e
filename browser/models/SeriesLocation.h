#pragma once

#include "host/core/Url.h"

#include <optional>

namespace Dravelin {

namespace Dicom {
class Series;
}

// Where the host's loader finds one series again: the file of a single image, the common
// folder of several files (with the sub-queries "series", "recursive" and "ignoreNonDicom"),
// the DICOMweb series of several instances, or the series part of another location.
namespace SeriesLocation {

// Nothing for a web series whose first image location names no instance (logged), and for a
// series without images.
std::optional<Filesystem::Url> of(const Dicom::Series& series, bool checkDicomHeader);

}  // namespace SeriesLocation

}  // namespace Dravelin
