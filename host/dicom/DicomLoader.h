#pragma once

#include "host/core/Progress.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

class DcmDataset;

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
    int slices = 0;                          // slices of a volume, 1 for a 2D image
    std::array<double, 3> spacing{1, 1, 1};  // column, row, slice spacing in mm
    bool isMetric = false;                   // the spacing came from the data, not a default
    std::string modality;
    std::vector<std::string> files;  // the files that make up this image
    // On the first descriptor of a group: instances left out because their position already
    // holds one instance for every volume of the group (rule 4).
    std::vector<std::string> leftOut;
};

// Groups the instances of a list of locations into the image sets a full load would
// produce, and describes them. Only headers are read.
//
// Grouping rules, in order:
// 1. A file with NumberOfFrames > 1 is an image set of its own with one volume
//    (slices = frames). Its slice spacing comes from the per-frame positions
//    (PerFrameFunctionalGroupsSequence) when there are at least two, else from
//    SpacingBetweenSlices (also inside SharedFunctionalGroupsSequence), else it is 1 and the
//    descriptor is not metric.
// 2. Other instances are grouped by SeriesInstanceUID (an instance without one stands
//    alone), then by ImageOrientationPatient rounded to 1e-3, then by Rows and Columns.
//    Groups keep the order in which their first instance was met.
// 3. Within a group, instances are sorted by their position along the slice normal
//    (the cross product of the row and column directions), then by
//    TemporalPositionIdentifier, TriggerTime, AcquisitionNumber, InstanceNumber and file
//    order. Positions closer than 0.01 mm count as one position.
// 4. The n-th instance at each position belongs to the n-th volume, so repeated positions
//    (a time series) give several volumes, and a group whose instances all share one
//    position gives one 2D image per instance. The number of volumes is the most common
//    number of instances per position (the smaller one on a tie): a position holding more
//    keeps its first ones and the others are left out (`leftOut`), so that a duplicated
//    slice does not become a volume of its own. Instances without a position are 2D images
//    of their own, in InstanceNumber order.
// 5. A volume's slice spacing is the distance between its first and last slice divided by
//    the number of gaps; a single slice takes SpacingBetweenSlices or 1.
// Spacing is [column spacing (along a row), row spacing (down a column), slice spacing];
// isMetric is true when PixelSpacing (or the shared PixelMeasuresSequence) was present,
// except for a multi-frame volume whose slice spacing is the default of rule 1.
//
// Locations are texts of Filesystem::Url (what Url::string gives, with the sub-queries of
// DatasetCache::load) or plain paths, or "##"-joined lists of them (location strings).
class DicomLoader
{
public:
    DicomLoader(std::vector<std::string> locations, Progress* progress, std::shared_ptr<Dicom::DatasetCache> cache,
                Dicom::IOD_Registry* registry);
    ~DicomLoader();

    // Reads only headers. Throws Dicom::Exception when a location cannot be read at all
    // (it does not exist, is not a local location, or holds no readable DICOM file).
    std::vector<std::vector<ImageDescriptor>> loadDescriptors();

    // The same grouping for datasets already in memory; names[i] (a file or URL) names
    // datasets[i] and is what the descriptors list in `files`.
    static std::vector<std::vector<ImageDescriptor>> describe(const std::vector<std::shared_ptr<DcmDataset>>& datasets,
                                                              const std::vector<std::string>& names);

private:
    std::vector<std::string> m_locations;
    Progress* m_progress;
    std::shared_ptr<Dicom::DatasetCache> m_cache;
    Dicom::IOD_Registry* m_registry;
};

}  // namespace Dravelin
