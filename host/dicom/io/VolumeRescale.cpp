#include "host/dicom/io/VolumeRescale.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace Dravelin::Dicom {

namespace {

template <typename T>
void rangeOf(const PixelVolume& v, double& lo, double& hi)
{
    const T* p = reinterpret_cast<const T*>(v.data());
    const long long n = static_cast<long long>(v.sampleCount());
    T a = std::numeric_limits<T>::max();
    T b = std::numeric_limits<T>::lowest();
#pragma omp parallel for reduction(min : a) reduction(max : b)
    for (long long i = 0; i < n; ++i) {
        a = p[i] < a ? p[i] : a;
        b = p[i] > b ? p[i] : b;
    }
    lo = static_cast<double>(a);
    hi = static_cast<double>(b);
}

void storedRange(const PixelVolume& v, double& lo, double& hi)
{
    lo = hi = 0;
    if (v.sampleCount() == 0)
        return;
    switch (v.type) {
        case VoxelType::UInt8: rangeOf<std::uint8_t>(v, lo, hi); break;
        case VoxelType::Int8: rangeOf<std::int8_t>(v, lo, hi); break;
        case VoxelType::UInt16: rangeOf<std::uint16_t>(v, lo, hi); break;
        case VoxelType::Int16: rangeOf<std::int16_t>(v, lo, hi); break;
        case VoxelType::UInt32: rangeOf<std::uint32_t>(v, lo, hi); break;
        case VoxelType::Int32: rangeOf<std::int32_t>(v, lo, hi); break;
        case VoxelType::Float: rangeOf<float>(v, lo, hi); break;
    }
}

bool fits(VoxelType t, double lo, double hi)
{
    switch (t) {
        case VoxelType::UInt8: return lo >= 0 && hi <= 255;
        case VoxelType::Int8: return lo >= -128 && hi <= 127;
        case VoxelType::UInt16: return lo >= 0 && hi <= 65535;
        case VoxelType::Int16: return lo >= -32768 && hi <= 32767;
        case VoxelType::UInt32: return lo >= 0 && hi <= 4294967295.0;
        case VoxelType::Int32: return lo >= -2147483648.0 && hi <= 2147483647.0;
        case VoxelType::Float: return true;
    }
    return false;
}

template <typename From, typename To>
void addInto(const std::uint8_t* in, std::uint8_t* out, std::size_t n, std::int64_t offset)
{
    const From* src = reinterpret_cast<const From*>(in);
    To* dst = reinterpret_cast<To*>(out);
    const long long count = static_cast<long long>(n);
#pragma omp parallel for if (count > 1000000)
    for (long long i = 0; i < count; ++i)
        dst[i] = static_cast<To>(static_cast<std::int64_t>(src[i]) + offset);
}

template <typename From>
void addAs(VoxelType to, const std::uint8_t* in, std::uint8_t* out, std::size_t n, std::int64_t offset)
{
    switch (to) {
        case VoxelType::UInt8: addInto<From, std::uint8_t>(in, out, n, offset); break;
        case VoxelType::Int8: addInto<From, std::int8_t>(in, out, n, offset); break;
        case VoxelType::UInt16: addInto<From, std::uint16_t>(in, out, n, offset); break;
        case VoxelType::Int16: addInto<From, std::int16_t>(in, out, n, offset); break;
        case VoxelType::UInt32: addInto<From, std::uint32_t>(in, out, n, offset); break;
        case VoxelType::Int32: addInto<From, std::int32_t>(in, out, n, offset); break;
        case VoxelType::Float: addInto<From, float>(in, out, n, offset); break;
    }
}

void addOffset(VoxelType from, VoxelType to, const std::uint8_t* in, std::uint8_t* out, std::size_t n,
               std::int64_t offset)
{
    switch (from) {
        case VoxelType::UInt8: addAs<std::uint8_t>(to, in, out, n, offset); break;
        case VoxelType::Int8: addAs<std::int8_t>(to, in, out, n, offset); break;
        case VoxelType::UInt16: addAs<std::uint16_t>(to, in, out, n, offset); break;
        case VoxelType::Int16: addAs<std::int16_t>(to, in, out, n, offset); break;
        case VoxelType::UInt32: addAs<std::uint32_t>(to, in, out, n, offset); break;
        case VoxelType::Int32: addAs<std::int32_t>(to, in, out, n, offset); break;
        case VoxelType::Float: break;
    }
}

// The narrowest integer type that holds [lo, hi], preferring `current`.
VoxelType integerTypeFor(VoxelType current, double lo, double hi)
{
    if (fits(current, lo, hi))
        return current;
    for (VoxelType t :
         {VoxelType::UInt8, VoxelType::Int8, VoxelType::UInt16, VoxelType::Int16, VoxelType::UInt32, VoxelType::Int32})
        if (voxelSize(t) >= voxelSize(current) && fits(t, lo, hi))
            return t;
    return VoxelType::Float;
}

}  // namespace

std::optional<VoxelType> interceptTypeFor(VoxelType stored, int bitsStored, double intercept)
{
    if (intercept != std::floor(intercept) || std::abs(intercept) > 2147483647.0 || stored == VoxelType::Float ||
        bitsStored <= 0 || bitsStored > 32)
        return std::nullopt;
    const bool isSigned = isSignedVoxelType(stored);
    const double lo = isSigned ? -std::ldexp(1.0, bitsStored - 1) : 0.0;
    const double hi = isSigned ? std::ldexp(1.0, bitsStored - 1) - 1 : std::ldexp(1.0, bitsStored) - 1;
    for (VoxelType t : {stored, VoxelType::UInt8, VoxelType::Int8, VoxelType::UInt16, VoxelType::Int16,
                        VoxelType::UInt32, VoxelType::Int32})
        if (voxelSize(t) == voxelSize(stored) && fits(t, lo + intercept, hi + intercept))
            return t;
    return std::nullopt;
}

void addIntercept(VoxelType from, VoxelType to, std::uint8_t* samples, std::size_t count, std::int64_t intercept)
{
    // The common case, unsigned 16-bit samples with a negative intercept, in a loop that vectorises.
    if (from == VoxelType::UInt16 && to == VoxelType::Int16 && intercept >= -65535 && intercept <= 65535) {
        auto* p = reinterpret_cast<std::uint16_t*>(samples);
        const auto offset = static_cast<std::uint16_t>(intercept);
        for (std::size_t i = 0; i < count; ++i)
            p[i] = static_cast<std::uint16_t>(p[i] + offset);  // two's complement gives the int16 value
        return;
    }
    addOffset(from, to, samples, samples, count, intercept);
}

void applyRescale(PixelVolume& volume, const std::vector<double>& slopes, const std::vector<double>& intercepts)
{
    if (slopes.empty() || intercepts.size() != slopes.size() || volume.channels != 1)
        return;
    const bool uniform =
        std::all_of(slopes.begin(), slopes.end(), [&](double s) { return s == slopes.front(); }) &&
        std::all_of(intercepts.begin(), intercepts.end(), [&](double b) { return b == intercepts.front(); });
    if (uniform) {
        const double slope = slopes.front();
        const double intercept = intercepts.front();
        if (slope != 1.0 || intercept != std::floor(intercept) || volume.type == VoxelType::Float ||
            std::abs(intercept) > 2147483647.0) {
            volume.slope = slope;
            volume.intercept = intercept;
            return;
        }
        if (intercept == 0)
            return;
        double lo = 0, hi = 0;
        storedRange(volume, lo, hi);
        const VoxelType target = integerTypeFor(volume.type, lo + intercept, hi + intercept);
        if (target == VoxelType::Float) {
            volume.intercept = intercept;  // no integer type holds it: carry it
            return;
        }
        const auto offset = static_cast<std::int64_t>(intercept);
        if (voxelSize(target) == voxelSize(volume.type)) {
            addOffset(volume.type, target, volume.data(), volume.data(), volume.sampleCount(), offset);
            volume.type = target;
            return;
        }
        PixelVolume wide = volume.withType(target);
        addOffset(volume.type, target, volume.data(), wide.data(), volume.sampleCount(), offset);
        volume = std::move(wide);
        return;
    }

    // Differing rescales per slice: real values as floating point.
    PixelVolume real = volume.withType(VoxelType::Float);
    const std::size_t perSlice = static_cast<std::size_t>(volume.width) * static_cast<std::size_t>(volume.height);
    float* out = reinterpret_cast<float*>(real.data());
    for (int k = 0; k < volume.slices; ++k) {
        const std::size_t s = std::min<std::size_t>(static_cast<std::size_t>(k), slopes.size() - 1);
        for (std::size_t i = 0; i < perSlice; ++i) {
            const std::size_t index = static_cast<std::size_t>(k) * perSlice + i;
            out[index] = static_cast<float>(volume.storedValue(index) * slopes[s] + intercepts[s]);
        }
    }
    volume = std::move(real);
}

}  // namespace Dravelin::Dicom
