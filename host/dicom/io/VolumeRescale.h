#pragma once

#include "host/dicom/io/PixelVolume.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace Dravelin::Dicom {

// Applies per-slice rescale slopes and intercepts (one pair per slice) to a grey volume of
// stored values: one integer intercept with slope 1 is added to the samples (in place when
// the values still fit the voxel size, widened otherwise); any other single pair is carried in
// the volume's slope and intercept; differing pairs turn the volume into floating point.
void applyRescale(PixelVolume& volume, const std::vector<double>& slopes, const std::vector<double>& intercepts);

// The voxel type of the same size that holds every value of `bitsStored`-bit samples plus an
// integer intercept, when there is one: the intercept can then be added slice by slice while
// decoding (addIntercept) instead of in a pass over the whole volume afterwards.
std::optional<VoxelType> interceptTypeFor(VoxelType stored, int bitsStored, double intercept);
void addIntercept(VoxelType from, VoxelType to, std::uint8_t* samples, std::size_t count, std::int64_t intercept);

}  // namespace Dravelin::Dicom
