#pragma once

#include <cstdint>
#include <vector>

namespace Dravelin {

// A plain 8-bit image in memory: rows of width * channels bytes, no padding.
// channels is 1 (grey) or 3 (RGB, interleaved).
struct MemImage
{
    int width = 0;
    int height = 0;
    int channels = 1;
    std::vector<std::uint8_t> pixels;

    bool isNull() const { return width <= 0 || height <= 0 || pixels.empty(); }
};

}  // namespace Dravelin
