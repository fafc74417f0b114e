#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Dravelin::Dicom {

enum class VoxelType { UInt8, Int8, UInt16, Int16, UInt32, Int32, Float };

int voxelSize(VoxelType type);
const char* voxelTypeName(VoxelType type);  // "uint8", "int16", "float", ...
bool isSignedVoxelType(VoxelType type);

// Minimum, maximum and mean of a volume's real (rescaled) values.
struct VolumeStatistics
{
    double minimum = 0;
    double maximum = 0;
    double mean = 0;
};

// Statistics of `count` stored values after the rescale (computed in parallel).
template <typename T>
VolumeStatistics statisticsOf(const T* values, std::size_t count, double slope, double intercept);

// One volume of decoded pixels, before it becomes an image of the data model.
// Samples are stored slice after slice, row after row, with the channels of a pixel interleaved.
// The real value of a sample is stored * slope + intercept, so that integer data with a fractional
// rescale is carried exactly instead of being converted to floating point.
class PixelVolume
{
public:
    PixelVolume() = default;
    PixelVolume(int width, int height, int slices, int channels, VoxelType type);  // uninitialised samples
    // Takes `samples` (byteSize() of them) as the volume's memory, without copying.
    PixelVolume(int width, int height, int slices, int channels, VoxelType type, std::vector<std::uint8_t>&& samples);
    PixelVolume(PixelVolume&&) = default;
    PixelVolume& operator=(PixelVolume&&) = default;
    PixelVolume(const PixelVolume&) = delete;
    PixelVolume& operator=(const PixelVolume&) = delete;

    int width = 0;
    int height = 0;
    int slices = 0;
    int channels = 1;
    VoxelType type = VoxelType::UInt8;
    double slope = 1;
    double intercept = 0;
    std::array<double, 3> spacing{1, 1, 1};  // column, row and slice spacing in mm
    bool metric = false;                     // the spacing and position came from the data
    // Voxel index (column, row, slice) to patient coordinates in mm, row-major 4x4; the index
    // (0, 0, 0) is the centre of the first voxel.
    std::array<double, 16> imageToWorld{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::vector<double> windowCenters;
    std::vector<double> windowWidths;
    std::string modality;

    std::size_t sampleCount() const;
    std::size_t sliceBytes() const;
    std::size_t byteSize() const { return sampleCount() * static_cast<std::size_t>(voxelSize(type)); }
    std::uint8_t* data() { return m_data.data(); }
    const std::uint8_t* data() const { return m_data.data(); }
    std::uint8_t* slice(int index) { return m_data.data() + sliceBytes() * static_cast<std::size_t>(index); }
    const std::uint8_t* slice(int index) const
    {
        return m_data.data() + sliceBytes() * static_cast<std::size_t>(index);
    }

    // A new volume of the same size and description (geometry, window, modality) with
    // uninitialised samples of another type, slope 1 and intercept 0.
    PixelVolume withType(VoxelType newType) const;

    // Hands the sample memory over (the volume is empty afterwards).
    std::vector<std::uint8_t> takeData() { return std::move(m_data); }

    double storedValue(std::size_t index) const;
    double value(std::size_t index) const { return storedValue(index) * slope + intercept; }
    VolumeStatistics statistics() const;

    // Slice k of the volume starts at column 3 of imageToWorld times k plus column 4.
    std::array<double, 3> sliceOrigin(int k) const;

private:
    std::vector<std::uint8_t> m_data;
};

}  // namespace Dravelin::Dicom
