#include "host/dicom/io/SliceSpacing.h"

#include <gtest/gtest.h>

using Dravelin::Dicom::SliceSpacing;

// The grids and runs that the series tests do not reach: descending positions (dose offsets),
// a nearly repeated position (which must not ask for hundreds of planes), and steps that are
// no multiple of the smallest one.
TEST(SliceSpacing, GridsAndRunsOfUnevenStacks)
{
    struct Case
    {
        std::vector<double> positions;
        int gridSlices;
        double gridStep;
        std::vector<std::pair<int, int>> runs;
    };
    const std::vector<Case> cases = {
        {{0, -3, -6, -12}, 5, 3.0, {{0, 3}, {3, 1}}},
        {{0, 0.02, 2.5, 5, 7.5, 10, 12.5, 15}, 29, 15.0 / 28, {{0, 2}, {2, 6}}},
        {{0, 2, 5, 7}, 5, 1.75, {{0, 2}, {2, 2}}},
    };
    for (const Case& c : cases) {
        const SliceSpacing spacing(c.positions);
        EXPECT_FALSE(spacing.isRegular());
        EXPECT_EQ(spacing.gridSlices(), c.gridSlices);
        EXPECT_NEAR(spacing.gridStep(), c.gridStep, 1e-12);
        EXPECT_EQ(spacing.regularRuns(), c.runs);
    }
}
