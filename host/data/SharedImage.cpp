#include "host/data/SharedImage.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>

namespace Dravelin {

SharedImage::SharedImage(PixelType type, int width, int height, int slices)
    : m_type(type), m_dims(std::max(1, width), std::max(1, height), std::max(1, slices))
{
    m_bytes.assign(voxelCount() * bytesPerVoxel(m_type), 0);
}

SharedImage::SharedImage(PixelType type, int width, int height, int slices, std::vector<std::uint8_t>&& bytes)
    : m_type(type), m_dims(std::max(1, width), std::max(1, height), std::max(1, slices))
{
    if (bytes.size() == voxelCount() * bytesPerVoxel(m_type))
        m_bytes = std::move(bytes);
    else
        m_bytes.assign(voxelCount() * bytesPerVoxel(m_type), 0);
}

SharedImage::SharedImage(const SharedImage& other) = default;
SharedImage& SharedImage::operator=(const SharedImage& other) = default;
SharedImage::~SharedImage() = default;

std::size_t SharedImage::voxelCount() const
{
    return static_cast<std::size_t>(m_dims.x()) * static_cast<std::size_t>(m_dims.y()) *
           static_cast<std::size_t>(m_dims.z());
}

void SharedImage::setSpacing(const Eigen::Vector3d& spacing)
{
    for (int i = 0; i < 3; ++i)
        m_spacing[i] = spacing[i] > 0.0 ? spacing[i] : 1.0;
}

Eigen::Affine3d SharedImage::voxelToWorld() const
{
    return m_imageToWorld * Eigen::Scaling(m_spacing);
}

Eigen::Affine3d SharedImage::worldToVoxel() const
{
    return voxelToWorld().inverse();
}

Eigen::AlignedBox3d SharedImage::worldBounds() const
{
    // The voxel centres span [0, dim - 1]; the box covers the voxels' extent.
    const Eigen::Affine3d m = voxelToWorld();
    Eigen::AlignedBox3d box;
    for (int corner = 0; corner < 8; ++corner) {
        Eigen::Vector3d v;
        for (int i = 0; i < 3; ++i)
            v[i] = (corner & (1 << i)) ? m_dims[i] - 0.5 : -0.5;
        box.extend(m * v);
    }
    return box;
}

void SharedImage::setRescale(double slope, double intercept)
{
    m_slope = slope == 0.0 ? 1.0 : slope;
    m_intercept = intercept;
}

std::size_t SharedImage::offset(int x, int y, int z, int channel) const
{
    assert(contains(x, y, z) && channel >= 0 && channel < channels());
    const std::size_t voxel = (static_cast<std::size_t>(z) * m_dims.y() + y) * m_dims.x() + x;
    return (voxel * channels() + channel) * bytesPerChannel(m_type);
}

bool SharedImage::contains(int x, int y, int z) const
{
    return x >= 0 && y >= 0 && z >= 0 && x < m_dims.x() && y < m_dims.y() && z < m_dims.z();
}

double SharedImage::value(int x, int y, int z, int channel) const
{
    const std::uint8_t* p = m_bytes.data() + offset(x, y, z, channel);
    return dispatchPixelType(m_type, [p](auto t) {
        decltype(t) v;
        std::memcpy(&v, p, sizeof v);
        return static_cast<double>(v);
    });
}

void SharedImage::setValue(int x, int y, int z, int channel, double value)
{
    std::uint8_t* p = m_bytes.data() + offset(x, y, z, channel);
    dispatchPixelType(m_type, [p, value](auto t) {
        using T = decltype(t);
        double clamped = value;
        if constexpr (std::is_integral_v<T>)
            clamped =
                std::clamp(value, double(std::numeric_limits<T>::lowest()), double(std::numeric_limits<T>::max()));
        const T v = static_cast<T>(clamped);
        std::memcpy(p, &v, sizeof v);
    });
}

std::pair<double, double> SharedImage::minMax() const
{
    return dispatchPixelType(m_type, [this](auto t) {
        using T = decltype(t);
        const std::size_t n = m_bytes.size() / sizeof(T);
        const T* p = reinterpret_cast<const T*>(m_bytes.data());
        if (n == 0)
            return std::make_pair(0.0, 0.0);
        const auto [lo, hi] = std::minmax_element(p, p + n);
        return std::make_pair(static_cast<double>(*lo), static_cast<double>(*hi));
    });
}

}  // namespace Dravelin
