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

// The error bound of a lossy compression at a quality, in steps of the written samples: no
// decoded value differs from the value that was loaded by more than this many steps. A step is
// the rescale slope of the written samples: the value's own unit for integer data of up to 16
// bits, one grey level of 8-bit and colour images, 1/4095 of the value range where the writer
// quantises to 12 bits (JPEG), 1/65535 where it quantises 32-bit or floating-point values to 16
// bits (JPEG-LS, JPEG 2000; of the largest value for RT Dose, which scales without an intercept).
// JPEG and JPEG 2000: 2 + S, S = 200 - 2Q for Q >= 50 and 5000 / Q below (the scaling of the
// JPEG quantisation tables); the writer checks every frame. JPEG-LS: NEAR, which its encoder
// keeps. 0 for the lossless compressions.
int lossyBoundSteps(Compression compression, int quality);

}  // namespace Dravelin::Dicom
