#include "host/dicom/io/Compression.h"

#include <algorithm>
#include <cmath>

namespace Dravelin::Dicom {

namespace {

const char* const kNames[] = {"implicit",      "explicit", "deflated",     "big-endian", "jpeg",
                              "jpeg-lossless", "jpeg-ls",  "jpeg-ls-near", "j2k",        "j2k-lossless"};

int clampQuality(int quality)
{
    return std::clamp(quality, 1, 100);
}

}  // namespace

bool isLosslessCompression(Compression compression)
{
    return compression != Compression::JpegLossy && compression != Compression::JpegLsNearLossless &&
           compression != Compression::Jpeg2000Lossy;
}

std::string compressionName(Compression compression)
{
    const int index = static_cast<int>(compression);
    return index >= 0 && index < 10 ? kNames[index] : std::string();
}

std::optional<Compression> parseCompression(const std::string& text)
{
    for (int i = 0; i < 10; ++i)
        if (text == kNames[i] || text == std::to_string(i))
            return static_cast<Compression>(i);
    return std::nullopt;
}

int jpegQuality(int quality)
{
    return clampQuality(quality);
}

int jpegLsNearValue(int quality)
{
    // 100 allows an error of 1 per sample, 1 an error of 10.
    return 1 + (100 - clampQuality(quality)) / 11;
}

double jpeg2000Ratio(int quality)
{
    // 100 keeps nearly everything (2:1), 50 about 20:1, 1 about 40:1.
    return 2.0 + (100 - clampQuality(quality)) * 0.38;
}

int lossyBoundSteps(Compression compression, int quality)
{
    const int q = clampQuality(quality);
    switch (compression) {
        case Compression::JpegLossy:
        case Compression::Jpeg2000Lossy: return 2 + (q >= 50 ? 200 - 2 * q : 5000 / q);
        case Compression::JpegLsNearLossless: return jpegLsNearValue(q);
        default: return 0;
    }
}

}  // namespace Dravelin::Dicom
