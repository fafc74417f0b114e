#pragma once

#include "host/dicom/io/PixelVolume.h"

#include <utility>
#include <vector>

namespace Dravelin::Dicom {

// The spacing of a stack of slices, measured from each slice's position along the slice normal,
// and the two ways to make an uneven stack regular: resampling it onto an even grid, or cutting
// it into runs of equal steps.
//
// A stack is irregular when a step differs from the median step by more than the tolerance,
// max(1% of the median step, 0.01 mm): one step for all slices would then put some of them
// where they were not acquired.
//
// The grid runs from the first to the last slice with the smallest step, shortened just enough
// for the last slice to land on a plane as well, and never more than four times as many planes
// as slices (nearly repeated positions would otherwise ask for thousands). A grid plane within
// 0.01 mm of a slice takes that slice's samples unchanged; any other is interpolated linearly
// between the two slices around it.
class SliceSpacing
{
public:
    // Positions along the slice normal in slice order (ascending or descending), in mm.
    explicit SliceSpacing(const std::vector<double>& positions);

    int slices() const { return static_cast<int>(m_offsets.size()); }
    bool isRegular() const;
    double medianStep() const { return m_median; }
    double tolerance() const;
    // The largest distance of a slice from where one even step from the first to the last
    // slice would put it.
    double maxDeviation() const;

    double gridStep() const;
    int gridSlices() const;

    // The grid's slices from `volume`, whose slices are this stack's (with the first-to-last
    // step in its image-to-world matrix, as a regular stack would have it). Type, rescale,
    // window and the direction of the slice step stay; the step shrinks to the grid's.
    PixelVolume resample(const PixelVolume& volume) const;
    // For each grid plane, the slice nearest to it (to name the instance it comes from).
    std::vector<int> nearestSlices() const;

    // Runs of slices with equal steps (within the tolerance), as first slice and count; the
    // uneven steps fall between runs.
    std::vector<std::pair<int, int>> regularRuns() const;
    // The slices [first, first + count) of `volume` as a volume of their own, placed where
    // they lie, with their run's step.
    PixelVolume part(const PixelVolume& volume, int first, int count) const;

private:
    struct Plane
    {
        int below = 0;      // the slice at or before the plane
        double weight = 0;  // of the slice after it; 0 when the plane lies on `below`
    };
    std::vector<Plane> planes() const;
    // The change of patient position per mm along the stack, from `volume`'s slice step.
    std::array<double, 3> directionOf(const PixelVolume& volume) const;

    std::vector<double> m_offsets;  // from the first slice, ascending
    double m_median = 0;
};

}  // namespace Dravelin::Dicom
