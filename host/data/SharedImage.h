#pragma once

#include "host/data/PixelType.h"

#include <Eigen/Geometry>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace Dravelin {

// One 2D image or 3D volume of typed voxels, the element of a SharedImageSet.
//
// Voxels are stored x fastest, then y, then z; RGB channels interleaved. Geometry:
// `imageToWorld` maps millimetre image coordinates (voxel index times spacing) to world
// (patient) coordinates: its rotation columns are the row, column and slice directions and its
// translation the centre of the first voxel. Stored values become real values through the
// rescale: real = stored * slope + intercept.
class SharedImage
{
public:
    // A zero-filled image. Dimensions below 1 are raised to 1.
    SharedImage(PixelType type, int width, int height, int slices = 1);
    // Takes over voxel memory filled elsewhere (a reader's decoded pixels); `bytes` must hold
    // exactly the voxels of that size and type, otherwise the image is zero-filled instead.
    SharedImage(PixelType type, int width, int height, int slices, std::vector<std::uint8_t>&& bytes);
    SharedImage(const SharedImage& other);
    SharedImage& operator=(const SharedImage& other);
    ~SharedImage();

    PixelType pixelType() const { return m_type; }
    int channels() const { return channelsOf(m_type); }
    int width() const { return m_dims.x(); }
    int height() const { return m_dims.y(); }
    int slices() const { return m_dims.z(); }
    const Eigen::Vector3i& dimensions() const { return m_dims; }
    bool isVolume() const { return m_dims.z() > 1; }
    std::size_t voxelCount() const;
    std::size_t byteSize() const { return m_bytes.size(); }

    const Eigen::Vector3d& spacing() const { return m_spacing; }
    // Components not above 0 become 1 (unknown spacing is drawn as 1 mm).
    void setSpacing(const Eigen::Vector3d& spacing);

    const Eigen::Affine3d& imageToWorld() const { return m_imageToWorld; }
    void setImageToWorld(const Eigen::Affine3d& matrix) { m_imageToWorld = matrix; }
    // Voxel index to world coordinates, spacing included, and its inverse.
    Eigen::Affine3d voxelToWorld() const;
    Eigen::Affine3d worldToVoxel() const;
    Eigen::AlignedBox3d worldBounds() const;

    double rescaleSlope() const { return m_slope; }
    double rescaleIntercept() const { return m_intercept; }
    void setRescale(double slope, double intercept);

    // Raw voxel memory.
    void* data() { return m_bytes.data(); }
    const void* data() const { return m_bytes.data(); }
    // Typed voxel memory; null when T is not the channel type of this image.
    template <typename T>
    T* typedData()
    {
        return matches<T>() ? reinterpret_cast<T*>(m_bytes.data()) : nullptr;
    }
    template <typename T>
    const T* typedData() const
    {
        return matches<T>() ? reinterpret_cast<const T*>(m_bytes.data()) : nullptr;
    }

    // The stored value of one channel of a voxel (no bounds check beyond an assertion), and
    // its real value after the rescale.
    double value(int x, int y, int z = 0, int channel = 0) const;
    double realValue(int x, int y, int z = 0, int channel = 0) const
    {
        return value(x, y, z, channel) * m_slope + m_intercept;
    }
    void setValue(int x, int y, int z, int channel, double value);
    bool contains(int x, int y, int z) const;

    // Smallest and largest stored value over all voxels and channels.
    std::pair<double, double> minMax() const;

private:
    template <typename T>
    bool matches() const
    {
        if constexpr (std::is_same_v<T, std::uint8_t>)
            return m_type == PixelType::UInt8 || m_type == PixelType::RGB;
        else
            return m_type == PixelTypeOf<T>::value;
    }
    std::size_t offset(int x, int y, int z, int channel) const;

    PixelType m_type;
    Eigen::Vector3i m_dims;
    Eigen::Vector3d m_spacing = Eigen::Vector3d::Ones();
    Eigen::Affine3d m_imageToWorld = Eigen::Affine3d::Identity();
    double m_slope = 1.0;
    double m_intercept = 0.0;
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace Dravelin
