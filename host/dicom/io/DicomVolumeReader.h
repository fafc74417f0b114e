#pragma once

#include "host/core/Progress.h"
#include "host/dicom/Error.h"
#include "host/dicom/io/PixelVolume.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin::Dicom {

class DatasetCache;

// The decoded pixels of one image set, with the datasets they came from.
struct LoadedImageSet
{
    std::vector<PixelVolume> volumes;  // several for a time series
    // One dataset per frame, volume after volume, in slice order; without pixel data when the
    // set came from local files (the same dataset repeats for the frames of a multi-frame file).
    std::vector<std::shared_ptr<DcmDataset>> datasets;
    std::string location;  // the location text the set was read from
    std::string seriesInstanceUid;
    std::string frameOfReferenceUid;
    std::string sopClassUid;
};

// Reads a location string (files, folders with their sub-queries, pacs:// and DICOMweb URLs,
// "##"-joined lists) into decoded image sets, grouped as DicomLoader groups instances.
//
// Rescale: one integer intercept with slope 1 is applied to the stored values (the voxel type
// widens only when the values need it); any other single slope and intercept is carried in the
// volume exactly; slices with differing rescales become floating point. RT dose grids carry
// their DoseGridScaling as slope.
//
// Problems are collected in errors(): a file that cannot be read or decoded is a fatal error
// naming the file and the reason, and its image set is left out; files without pixels are
// informational. Nothing throws.
class DicomVolumeReader
{
public:
    explicit DicomVolumeReader(std::shared_ptr<DatasetCache> cache);
    ~DicomVolumeReader();

    std::vector<LoadedImageSet> read(const std::string& locationString, Progress* progress);

    const std::vector<Error>& errors() const { return m_errors; }
    // The datasets of the last read that hold no image (RT structure sets, reports, plans).
    const std::vector<std::shared_ptr<DcmDataset>>& nonImageDatasets() const { return m_nonImages; }

private:
    struct Source;
    bool readSlices(const std::vector<const Source*>& slices, LoadedImageSet& set);
    bool readMultiFrame(const Source& source, LoadedImageSet& set);
    void addError(Error::Code code, Error::Type type, const std::string& text);

    std::shared_ptr<DatasetCache> m_cache;
    std::vector<Error> m_errors;
    std::vector<std::shared_ptr<DcmDataset>> m_nonImages;
    std::mutex m_errorMutex;
};

}  // namespace Dravelin::Dicom
