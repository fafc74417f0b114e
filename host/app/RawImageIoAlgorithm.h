#pragma once

#include "host/app/IoAlgorithm.h"
#include "host/properties/Parameter.h"

namespace Dravelin {

class SharedImageSet;

// Reads a file of raw voxels (no header) into an image set: "width", "height" and "slices"
// give the size and "pixelType" the PixelType number (0, 8-bit unsigned, by default). A width
// of 0 takes the whole file as one row of bytes, which is how raw buffers saved from a dataset
// (pixel data, curves, waveforms) open without the user knowing their layout first.
class RawImageIoAlgorithm : public IoAlgorithm
{
public:
    // Writing is not offered: `image` must be null and `ioMode` Read.
    explicit RawImageIoAlgorithm(SharedImageSet* image = nullptr, int ioMode = Read);
    ~RawImageIoAlgorithm() override;

    void compute() override;
    OwningDataList takeOutput() override;

    Parameter<int> width{"width", 0, this};
    Parameter<int> height{"height", 1, this};
    Parameter<int> slices{"slices", 1, this};
    Parameter<int> pixelType{"pixelType", 0, this};

private:
    OwningDataList m_output;
};

}  // namespace Dravelin
