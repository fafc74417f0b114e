#include "host/dicom/io/PixelVolume.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>

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

namespace {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// The zeroing of a large vector touches every page in the calling thread, one fault per 4 KiB
// page: huge pages, and faulting them in on every core first, keep that from serialising a
// parallel load. Advice only: where the system declines it, the vector is filled as usual.
void preparePages(std::uint8_t* data, std::size_t bytes)
{
    constexpr std::uintptr_t huge = std::uintptr_t(2) << 20;
    if (bytes < 16 * huge)
        return;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + huge - 1) & ~(huge - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(huge - 1);
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    const long chunks = long((end - begin) / (8 * huge));
#pragma omp parallel for schedule(dynamic)
    for (long i = 0; i < chunks; ++i)
        ::madvise(reinterpret_cast<void*>(begin + std::uintptr_t(i) * 8 * huge), 8 * huge, MADV_POPULATE_WRITE);
}

}  // namespace

PixelVolume::PixelVolume(int w, int h, int s, int c, VoxelType t) : width(w), height(h), slices(s), channels(c), type(t)
{
    m_data.reserve(byteSize());
    preparePages(m_data.data(), byteSize());
    m_data.resize(byteSize());
}

PixelVolume::PixelVolume(int w, int h, int s, int c, VoxelType t, std::vector<std::uint8_t>&& samples)
    : width(w), height(h), slices(s), channels(c), type(t), m_data(std::move(samples))
{
    m_data.resize(byteSize());
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

}  // namespace

template <typename T>
VolumeStatistics statisticsOf(const T* values, std::size_t count, double slope, double intercept)
{
    VolumeStatistics s;
    if (count == 0)
        return s;
    // Integer sums are exact and vectorise; the volume is split between threads.
    using Sum = std::conditional_t<std::is_integral_v<T>, long long, double>;
    // Blocks small enough for a 32-bit partial sum of 16-bit values let the inner loop vectorise.
    using Partial = std::conditional_t<std::is_integral_v<T> && sizeof(T) <= 2, std::int32_t, Sum>;
    constexpr long long kBlock = 32768;
    T lo = std::numeric_limits<T>::max();
    T hi = std::numeric_limits<T>::lowest();
    Sum sum = 0;
    const long long n = static_cast<long long>(count);
    const long long blocks = (n + kBlock - 1) / kBlock;
#pragma omp parallel for reduction(min : lo) reduction(max : hi) reduction(+ : sum)
    for (long long b = 0; b < blocks; ++b) {
        const T* v = values + b * kBlock;
        const long long m = std::min(kBlock, n - b * kBlock);
        T blockLo = std::numeric_limits<T>::max();
        T blockHi = std::numeric_limits<T>::lowest();
        Partial partial = 0;
        for (long long i = 0; i < m; ++i) {
            blockLo = v[i] < blockLo ? v[i] : blockLo;
            blockHi = v[i] > blockHi ? v[i] : blockHi;
            partial += static_cast<Partial>(v[i]);
        }
        lo = std::min(lo, blockLo);
        hi = std::max(hi, blockHi);
        sum += static_cast<Sum>(partial);
    }
    const double a = static_cast<double>(lo) * slope + intercept;
    const double b = static_cast<double>(hi) * slope + intercept;
    s.minimum = std::min(a, b);
    s.maximum = std::max(a, b);
    s.mean = static_cast<double>(sum) / static_cast<double>(count) * slope + intercept;
    return s;
}

template VolumeStatistics statisticsOf(const std::uint8_t*, std::size_t, double, double);
template VolumeStatistics statisticsOf(const std::int8_t*, std::size_t, double, double);
template VolumeStatistics statisticsOf(const std::uint16_t*, std::size_t, double, double);
template VolumeStatistics statisticsOf(const std::int16_t*, std::size_t, double, double);
template VolumeStatistics statisticsOf(const std::uint32_t*, std::size_t, double, double);
template VolumeStatistics statisticsOf(const std::int32_t*, std::size_t, double, double);
template VolumeStatistics statisticsOf(const float*, std::size_t, double, double);

namespace {
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
