#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace Dravelin {

// The voxel types an image can store. RGB voxels are three interleaved uint8 channels.
enum class PixelType : int {
    UInt8 = 0,
    Int16 = 1,
    UInt16 = 2,
    Int32 = 3,
    Float = 4,
    RGB = 5,
};

// Bytes of one channel, channels per voxel, and both multiplied.
std::size_t bytesPerChannel(PixelType type);
int channelsOf(PixelType type);
inline std::size_t bytesPerVoxel(PixelType type)
{
    return bytesPerChannel(type) * static_cast<std::size_t>(channelsOf(type));
}
QString pixelTypeName(PixelType type);

// The PixelType of a C++ channel type (uint8_t maps to UInt8; RGB is chosen explicitly).
template <typename T>
struct PixelTypeOf;
template <>
struct PixelTypeOf<std::uint8_t>
{
    static constexpr PixelType value = PixelType::UInt8;
};
template <>
struct PixelTypeOf<std::int16_t>
{
    static constexpr PixelType value = PixelType::Int16;
};
template <>
struct PixelTypeOf<std::uint16_t>
{
    static constexpr PixelType value = PixelType::UInt16;
};
template <>
struct PixelTypeOf<std::int32_t>
{
    static constexpr PixelType value = PixelType::Int32;
};
template <>
struct PixelTypeOf<float>
{
    static constexpr PixelType value = PixelType::Float;
};

// Calls f(T{}) with T the channel type of `type` (uint8_t for RGB).
template <typename F>
decltype(auto) dispatchPixelType(PixelType type, F&& f)
{
    switch (type) {
        case PixelType::Int16: return f(std::int16_t{});
        case PixelType::UInt16: return f(std::uint16_t{});
        case PixelType::Int32: return f(std::int32_t{});
        case PixelType::Float: return f(float{});
        case PixelType::UInt8:
        case PixelType::RGB: break;
    }
    return f(std::uint8_t{});
}

}  // namespace Dravelin
