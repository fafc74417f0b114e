#pragma once

#include <string>

namespace Dravelin::Tools {

// A CT volume with an RT structure set of known shapes, for tests and benchmarks:
//   OUTDIR/ct/NNNN.dcm  CT slices (1 mm pixels, 2 mm slices, centred on the origin)
//   OUTDIR/rtstruct.dcm the structure set referencing them
// ROI 1 is a sphere (radius 20 mm), ROI 2 a box (40 x 40 mm over 20 mm) with a square hole
// (20 x 20 mm) and an island (8 x 8 mm) in the hole, ROI 3 a cylinder (radius 12 mm) contoured
// on every other slice only, its contours 0.6 mm below the slice planes. Further ROIs (up to
// `structures`) are spheres of varying radius spread over the volume.
class RtStructWriter
{
public:
    struct Options
    {
        std::string outDir;
        int slices = 40;
        int size = 128;
        int structures = 3;
    };
    explicit RtStructWriter(Options options) : m_options(std::move(options)) {}
    // False when a file could not be written.
    bool write();

private:
    Options m_options;
};

}  // namespace Dravelin::Tools
