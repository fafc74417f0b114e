#pragma once

#include <optional>
#include <string>

namespace Dravelin::Dicom {

// Transfer syntax of written files. The numbers are stored in settings and combo boxes.
enum class Compression : int {
    ImplicitLittleEndian = 0,
    ExplicitLittleEndian = 1,
    DeflatedLittleEndian = 2,
    ExplicitBigEndian = 3,
    JpegLossy = 4,
    JpegLossless = 5,
    JpegLsLossless = 6,
    JpegLsNearLossless = 7,
    Jpeg2000Lossy = 8,
    Jpeg2000Lossless = 9,
};

bool isLosslessCompression(Compression compression);

// Short names for command lines: "implicit", "explicit", "deflated", "big-endian", "jpeg",
// "jpeg-lossless", "jpeg-ls", "jpeg-ls-near", "j2k", "j2k-lossless".
std::string compressionName(Compression compression);
// A name above or the number 0-9.
std::optional<Compression> parseCompression(const std::string& text);

// Quality 1-100 to each codec's parameter.
int jpegQuality(int quality);       // IJG quality factor
int jpegLsNearValue(int quality);   // NEAR: maximum error per sample (at least 1)
double jpeg2000Ratio(int quality);  // target compression ratio

}  // namespace Dravelin::Dicom
