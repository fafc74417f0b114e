#include "host/dicom/io/SliceSpacing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace Dravelin::Dicom {

namespace {

// A grid plane this close to a slice is that slice (mm); also where positions count as one.
constexpr double kOnSlice = 0.01;
// At most this many grid planes per acquired slice.
constexpr int kMaxPlanesPerSlice = 4;

template <typename T>
void blend(const T* a, const T* b, double weight, T* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const double v = double(a[i]) + (double(b[i]) - double(a[i])) * weight;
        if constexpr (std::is_integral_v<T>)
            out[i] = static_cast<T>(std::lround(v));
        else
            out[i] = static_cast<T>(v);
    }
}

void blendSlices(VoxelType type, const std::uint8_t* a, const std::uint8_t* b, double weight, std::uint8_t* out,
                 std::size_t count)
{
    switch (type) {
        case VoxelType::UInt8: return blend(a, b, weight, out, count);
        case VoxelType::Int8:
            return blend(reinterpret_cast<const std::int8_t*>(a), reinterpret_cast<const std::int8_t*>(b), weight,
                         reinterpret_cast<std::int8_t*>(out), count);
        case VoxelType::UInt16:
            return blend(reinterpret_cast<const std::uint16_t*>(a), reinterpret_cast<const std::uint16_t*>(b), weight,
                         reinterpret_cast<std::uint16_t*>(out), count);
        case VoxelType::Int16:
            return blend(reinterpret_cast<const std::int16_t*>(a), reinterpret_cast<const std::int16_t*>(b), weight,
                         reinterpret_cast<std::int16_t*>(out), count);
        case VoxelType::UInt32:
            return blend(reinterpret_cast<const std::uint32_t*>(a), reinterpret_cast<const std::uint32_t*>(b), weight,
                         reinterpret_cast<std::uint32_t*>(out), count);
        case VoxelType::Int32:
            return blend(reinterpret_cast<const std::int32_t*>(a), reinterpret_cast<const std::int32_t*>(b), weight,
                         reinterpret_cast<std::int32_t*>(out), count);
        case VoxelType::Float:
            return blend(reinterpret_cast<const float*>(a), reinterpret_cast<const float*>(b), weight,
                         reinterpret_cast<float*>(out), count);
    }
}

// A volume like `volume` (description and rescale) with `slices` slices.
PixelVolume likeWithSlices(const PixelVolume& volume, int slices)
{
    PixelVolume v(volume.width, volume.height, slices, volume.channels, volume.type);
    v.slope = volume.slope;
    v.intercept = volume.intercept;
    v.spacing = volume.spacing;
    v.metric = volume.metric;
    v.imageToWorld = volume.imageToWorld;
    v.windowCenters = volume.windowCenters;
    v.windowWidths = volume.windowWidths;
    v.modality = volume.modality;
    return v;
}

void setSliceStep(PixelVolume& v, const std::array<double, 3>& direction, double step)
{
    for (int i = 0; i < 3; ++i)
        v.imageToWorld[std::size_t(i * 4 + 2)] = direction[std::size_t(i)] * step;
    v.spacing[2] =
        std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2]) * step;
}

}  // namespace

SliceSpacing::SliceSpacing(const std::vector<double>& positions)
{
    m_offsets.reserve(positions.size());
    for (double p : positions)
        m_offsets.push_back(std::abs(p - positions.front()));
    if (m_offsets.size() < 2)
        return;
    std::vector<double> steps;
    for (std::size_t k = 1; k < m_offsets.size(); ++k)
        steps.push_back(m_offsets[k] - m_offsets[k - 1]);
    std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
    m_median = steps[steps.size() / 2];
}

double SliceSpacing::tolerance() const
{
    return std::max(0.01 * m_median, kOnSlice);
}

bool SliceSpacing::isRegular() const
{
    for (std::size_t k = 1; k < m_offsets.size(); ++k)
        if (std::abs(m_offsets[k] - m_offsets[k - 1] - m_median) > tolerance())
            return false;
    return true;
}

double SliceSpacing::maxDeviation() const
{
    if (m_offsets.size() < 2)
        return 0;
    const double even = m_offsets.back() / double(m_offsets.size() - 1);
    double largest = 0;
    for (std::size_t k = 0; k < m_offsets.size(); ++k)
        largest = std::max(largest, std::abs(m_offsets[k] - even * double(k)));
    return largest;
}

int SliceSpacing::gridSlices() const
{
    if (m_offsets.size() < 2)
        return slices();
    double smallest = m_offsets.back();
    for (std::size_t k = 1; k < m_offsets.size(); ++k)
        smallest = std::min(smallest, std::max(m_offsets[k] - m_offsets[k - 1], kOnSlice));
    // Rounding in the positions must not add a plane.
    const double gaps = std::ceil(m_offsets.back() / smallest - 0.05);
    const double most = double(kMaxPlanesPerSlice) * double(m_offsets.size() - 1);
    return int(std::clamp(gaps, 1.0, most)) + 1;
}

double SliceSpacing::gridStep() const
{
    return m_offsets.size() < 2 ? 0.0 : m_offsets.back() / double(gridSlices() - 1);
}

std::vector<SliceSpacing::Plane> SliceSpacing::planes() const
{
    std::vector<Plane> result;
    const int count = gridSlices();
    const double step = gridStep();
    int below = 0;
    for (int j = 0; j < count; ++j) {
        const double at = j == count - 1 ? m_offsets.back() : step * j;
        while (below + 2 < slices() && m_offsets[std::size_t(below + 1)] <= at)
            ++below;
        Plane plane{below, 0.0};
        const double from = m_offsets[std::size_t(below)];
        const double to = m_offsets[std::size_t(below + 1)];
        if (std::abs(at - from) <= kOnSlice)
            plane.weight = 0;
        else if (std::abs(to - at) <= kOnSlice)
            plane.below = below + 1;
        else
            plane.weight = std::clamp((at - from) / (to - from), 0.0, 1.0);
        result.push_back(plane);
    }
    return result;
}

std::array<double, 3> SliceSpacing::directionOf(const PixelVolume& volume) const
{
    // The volume's slice step covers one even step of the stack.
    const double even = slices() > 1 ? m_offsets.back() / double(slices() - 1) : 0.0;
    std::array<double, 3> d{};
    for (int i = 0; i < 3; ++i)
        d[std::size_t(i)] = even > 0 ? volume.imageToWorld[std::size_t(i * 4 + 2)] / even : 0.0;
    return d;
}

PixelVolume SliceSpacing::resample(const PixelVolume& volume) const
{
    if (slices() < 2 || volume.slices != slices())
        return likeWithSlices(volume, 0);
    const std::vector<Plane> grid = planes();
    PixelVolume out = likeWithSlices(volume, int(grid.size()));
    const std::size_t bytes = volume.sliceBytes();
    const std::size_t samples = bytes / std::size_t(voxelSize(volume.type));
    const int count = int(grid.size());
#pragma omp parallel for schedule(dynamic)
    for (int j = 0; j < count; ++j) {
        const Plane& p = grid[std::size_t(j)];
        if (p.weight == 0)
            std::memcpy(out.slice(j), volume.slice(p.below), bytes);
        else
            blendSlices(volume.type, volume.slice(p.below), volume.slice(p.below + 1), p.weight, out.slice(j), samples);
    }
    setSliceStep(out, directionOf(volume), gridStep());
    return out;
}

std::vector<int> SliceSpacing::nearestSlices() const
{
    std::vector<int> nearest;
    for (const Plane& p : planes())
        nearest.push_back(p.weight <= 0.5 ? p.below : p.below + 1);
    return nearest;
}

std::vector<std::pair<int, int>> SliceSpacing::regularRuns() const
{
    std::vector<std::pair<int, int>> runs;
    int first = 0;
    while (first < slices()) {
        int last = first + 1;
        if (last < slices()) {
            const double step = m_offsets[std::size_t(last)] - m_offsets[std::size_t(first)];
            while (last + 1 < slices() &&
                   std::abs(m_offsets[std::size_t(last + 1)] - m_offsets[std::size_t(last)] - step) <= tolerance())
                ++last;
        } else {
            last = first;
        }
        runs.emplace_back(first, last - first + 1);
        first = last + 1;
    }
    return runs;
}

PixelVolume SliceSpacing::part(const PixelVolume& volume, int first, int count) const
{
    if (first < 0 || count < 1 || first + count > volume.slices || volume.slices != slices())
        return likeWithSlices(volume, 0);
    PixelVolume out = likeWithSlices(volume, count);
    std::memcpy(out.data(), volume.slice(first), volume.sliceBytes() * std::size_t(count));
    const std::array<double, 3> direction = directionOf(volume);
    const double start = m_offsets[std::size_t(first)];
    for (int i = 0; i < 3; ++i)
        out.imageToWorld[std::size_t(i * 4 + 3)] += direction[std::size_t(i)] * start;
    const double step = count > 1 ? (m_offsets[std::size_t(first + count - 1)] - start) / double(count - 1) : m_median;
    setSliceStep(out, direction, step);
    return out;
}

}  // namespace Dravelin::Dicom
