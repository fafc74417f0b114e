#pragma once

#include "host/core/Progress.h"
#include "host/dicom/Error.h"
#include "host/dicom/components/IrregularSpacingDataComponent.h"
#include "host/dicom/io/PixelVolume.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
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
    // set came from local files or a PACS (the same dataset repeats for the frames of a multi-frame file).
    // A resampled slice names the instance nearest to it.
    std::vector<std::shared_ptr<DcmDataset>> datasets;
    // Per volume: each slice's position along the slice normal in mm; empty when unknown.
    std::vector<std::vector<double>> slicePositions;
    std::string location;  // the location text the set was read from
    std::string seriesInstanceUid;
    std::string frameOfReferenceUid;
    std::string sopClassUid;
    std::optional<IrregularSpacing> irregularSpacing;
    std::string note;  // for the user: what was changed to make the set usable
};

// Reads a location string (files, folders with their sub-queries, pacs:// and DICOMweb URLs,
// "##"-joined lists) into decoded image sets, grouped as DicomLoader groups instances.
//
// Rescale: one integer intercept with slope 1 is applied to the stored values (the voxel type
// widens only when the values need it); any other single slope and intercept is carried in the
// volume exactly; slices with differing rescales become floating point. RT dose grids carry
// their DoseGridScaling as slope.
//
// Slices are never assumed evenly spaced: when the steps between their positions along the
// slice normal differ by more than max(1% of the median step, 0.01 mm) (SliceSpacing), the
// volume is resampled onto a regular grid, or, as the alternative policy, its series becomes one
// image set per run of equal steps (a time series is always resampled). Either way the set says
// so (irregularSpacing, note) and one warning names the series. Of several instances at one
// position, the first is kept and the others are named in a warning (DicomLoader, rule 4).
//
// Problems are collected in errors(): a file that cannot be read or decoded is a fatal error
// naming the file and the reason, and its image set is left out; what was changed to load a
// series is a warning; files without pixels are informational. Nothing throws.
class DicomVolumeReader
{
public:
    enum class IrregularSpacingPolicy { Resample, SplitIntoRegularParts };

    explicit DicomVolumeReader(std::shared_ptr<DatasetCache> cache);
    ~DicomVolumeReader();

    void setIrregularSpacingPolicy(IrregularSpacingPolicy policy) { m_policy = policy; }
    // The most bytes one decoded volume may take (a larger one is a fatal error naming its
    // file); no limit but the memory's by default.
    void setVolumeLimit(std::size_t bytes) { m_volumeLimit = bytes; }

    std::vector<LoadedImageSet> read(const std::string& locationString, Progress* progress);

    const std::vector<Error>& errors() const { return m_errors; }
    // The datasets of the last read that hold no image (RT structure sets, reports, plans).
    const std::vector<std::shared_ptr<DcmDataset>>& nonImageDatasets() const { return m_nonImages; }

private:
    struct Source;
    bool readSlices(const std::vector<const Source*>& slices, LoadedImageSet& set);
    bool readMultiFrame(const Source& source, LoadedImageSet& set);
    // Moves `set` to `out`, made regular first when its slices are unevenly spaced.
    void addRegular(LoadedImageSet&& set, std::vector<LoadedImageSet>& out);
    void addError(Error::Code code, Error::Type type, const std::string& text);
    // A new volume in `volume` (holding `samples` when given), or false with a fatal error
    // naming `name` when it would exceed the limit or the memory.
    bool allocate(PixelVolume& volume, const std::string& name, int width, int height, int slices, int channels,
                  VoxelType type, std::vector<std::uint8_t>* samples = nullptr);

    std::shared_ptr<DatasetCache> m_cache;
    IrregularSpacingPolicy m_policy = IrregularSpacingPolicy::Resample;
    std::size_t m_volumeLimit = SIZE_MAX;
    std::vector<Error> m_errors;
    std::vector<std::shared_ptr<DcmDataset>> m_nonImages;
    std::mutex m_errorMutex;
};

}  // namespace Dravelin::Dicom
