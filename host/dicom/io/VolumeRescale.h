#pragma once

#include "host/dicom/io/PixelVolume.h"

#include <vector>

namespace Dravelin::Dicom {

// Applies per-slice rescale slopes and intercepts (one pair per slice) to a grey volume of
// stored values: one integer intercept with slope 1 is added to the samples (in place when
// the values still fit the voxel size, widened otherwise); any other single pair is carried in
// the volume's slope and intercept; differing pairs turn the volume into floating point.
void applyRescale(PixelVolume& volume, const std::vector<double>& slopes, const std::vector<double>& intercepts);

}  // namespace Dravelin::Dicom
