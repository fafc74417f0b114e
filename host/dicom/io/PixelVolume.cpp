#include "host/dicom/io/PixelVolume.h"

#include <algorithm>
#include <limits>

namespace Dravelin::Dicom {

int voxelSize(VoxelType type)
{
    switch (type) {
        case VoxelType::UInt8:
        case VoxelType::Int8: return 1;
        case VoxelType::UInt16:
        case VoxelType::Int16: return 2;
        case VoxelType::UInt32:
        case VoxelType::Int32:
        case VoxelType::Float: return 4;
    }
    return 1;
}

const char* voxelTypeName(VoxelType type)
{
    switch (type) {
        case VoxelType::UInt8: return "uint8";
        case VoxelType::Int8: return "int8";
        case VoxelType::UInt16: return "uint16";
        case VoxelType::Int16: return "int16";
        case VoxelType::UInt32: return "uint32";
        case VoxelType::Int32: return "int32";
        case VoxelType::Float: return "float";
    }
    return "?";
}

bool isSignedVoxelType(VoxelType type)
{
    return type == VoxelType::Int8 || type == VoxelType::Int16 || type == VoxelType::Int32 || type == VoxelType::Float;
}

PixelVolume::PixelVolume(int w, int h, int s, int c, VoxelType t)
    : width(w), height(h), slices(s), channels(c), type(t), m_data(byteSize())
{
}

std::size_t PixelVolume::sampleCount() const
{
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(slices) *
           static_cast<std::size_t>(channels);
}

std::size_t PixelVolume::sliceBytes() const
{
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(channels) *
           static_cast<std::size_t>(voxelSize(type));
}

PixelVolume PixelVolume::withType(VoxelType newType) const
{
    PixelVolume v(width, height, slices, channels, newType);
    v.spacing = spacing;
    v.metric = metric;
    v.imageToWorld = imageToWorld;
    v.windowCenters = windowCenters;
    v.windowWidths = windowWidths;
    v.modality = modality;
    return v;
}

namespace {

template <typename T>
double at(const std::uint8_t* data, std::size_t index)
{
    return static_cast<double>(reinterpret_cast<const T*>(data)[index]);
}

template <typename T>
VolumeStatistics statisticsOf(const T* values, std::size_t count, double slope, double intercept)
{
    VolumeStatistics s;
    if (count == 0)
        return s;
    T lo = std::numeric_limits<T>::max();
    T hi = std::numeric_limits<T>::lowest();
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        lo = std::min(lo, values[i]);
        hi = std::max(hi, values[i]);
        sum += static_cast<double>(values[i]);
    }
    const double a = static_cast<double>(lo) * slope + intercept;
    const double b = static_cast<double>(hi) * slope + intercept;
    s.minimum = std::min(a, b);
    s.maximum = std::max(a, b);
    s.mean = sum / static_cast<double>(count) * slope + intercept;
    return s;
}

}  // namespace

double PixelVolume::storedValue(std::size_t index) const
{
    const std::uint8_t* p = m_data.data();
    switch (type) {
        case VoxelType::UInt8: return at<std::uint8_t>(p, index);
        case VoxelType::Int8: return at<std::int8_t>(p, index);
        case VoxelType::UInt16: return at<std::uint16_t>(p, index);
        case VoxelType::Int16: return at<std::int16_t>(p, index);
        case VoxelType::UInt32: return at<std::uint32_t>(p, index);
        case VoxelType::Int32: return at<std::int32_t>(p, index);
        case VoxelType::Float: return at<float>(p, index);
    }
    return 0;
}

VolumeStatistics PixelVolume::statistics() const
{
    const std::size_t n = sampleCount();
    const std::uint8_t* p = m_data.data();
    switch (type) {
        case VoxelType::UInt8: return statisticsOf(reinterpret_cast<const std::uint8_t*>(p), n, slope, intercept);
        case VoxelType::Int8: return statisticsOf(reinterpret_cast<const std::int8_t*>(p), n, slope, intercept);
        case VoxelType::UInt16: return statisticsOf(reinterpret_cast<const std::uint16_t*>(p), n, slope, intercept);
        case VoxelType::Int16: return statisticsOf(reinterpret_cast<const std::int16_t*>(p), n, slope, intercept);
        case VoxelType::UInt32: return statisticsOf(reinterpret_cast<const std::uint32_t*>(p), n, slope, intercept);
        case VoxelType::Int32: return statisticsOf(reinterpret_cast<const std::int32_t*>(p), n, slope, intercept);
        case VoxelType::Float: return statisticsOf(reinterpret_cast<const float*>(p), n, slope, intercept);
    }
    return {};
}

std::array<double, 3> PixelVolume::sliceOrigin(int k) const
{
    const auto& m = imageToWorld;
    return {m[3] + m[2] * k, m[7] + m[6] * k, m[11] + m[10] * k};
}

}  // namespace Dravelin::Dicom
