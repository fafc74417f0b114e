#pragma once

#include "host/core/Progress.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace Dravelin {

namespace Dicom {
class DatasetCache;
class IOD_Registry;
}  // namespace Dicom

// What one loaded image (a 2D image or a volume) would look like, without its pixels.
struct ImageDescriptor
{
    int width = 0;
    int height = 0;
    int slices = 0;                            // slices of a volume, 1 for a 2D image
    std::array<double, 3> spacing{1, 1, 1};    // column, row, slice spacing in mm
    bool isMetric = false;                     // the spacing came from the data, not a default
    std::string modality;
    std::vector<std::string> files;            // the files that make up this image
};

// Groups the instances of a list of locations into the image sets a full load would
// produce, and describes them:
// - instances are grouped by series; a series is split by orientation, size and (for
//   repeated positions, e.g. time series) by position along the slice normal;
// - one multi-frame file is one set;
// - each group is an image set: one descriptor per image of the set (several descriptors
//   for a time series of volumes or for several 2D images of one orientation that do not
//   form a volume).
// Locations are texts of Filesystem::Url (what Url::string gives) or plain paths.
class DicomLoader
{
public:
    DicomLoader(std::vector<std::string> locations, Progress* progress,
                std::shared_ptr<Dicom::DatasetCache> cache, Dicom::IOD_Registry* registry);
    ~DicomLoader();

    // Reads only headers. Throws Dicom::Exception when a location cannot be read at all.
    std::vector<std::vector<ImageDescriptor>> loadDescriptors();

private:
    std::vector<std::string> m_locations;
    Progress* m_progress;
    std::shared_ptr<Dicom::DatasetCache> m_cache;
    Dicom::IOD_Registry* m_registry;
};

}  // namespace Dravelin
