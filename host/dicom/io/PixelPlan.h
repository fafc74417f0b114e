#pragma once

#include <cstdint>

class DcmItem;

namespace Dravelin {
class SharedImage;
}

namespace Dravelin::Dicom {

// How the values of slices [first, first + count) of an image become the stored samples of a
// dataset without changing any of them:
// - colour: 8-bit RGB;
// - 8-bit grey images with the identity rescale: bytes, where the object holds bytes;
// - integer values that 16 bits hold: signed samples, or unsigned ones with the offset folded
//   into the rescale intercept;
// - real values that a rescale of 16-bit integers reproduces (to the 32-bit float precision
//   they were held in): those integers with that rescale;
// - wider integers: 32-bit samples;
// - anything else: 32-bit floating-point pixel data (Float Pixel Data), which the writer
//   quantises for its lossy compressions and refuses for the lossless ones.
// With `slopeOnly` the object scales by a slope alone (RT Dose's Dose Grid Scaling): values are
// then unsigned integers times that slope, or floating point.
class PixelPlan
{
public:
    enum class Kind { Rgb, Integer, Float };

    static PixelPlan make(const SharedImage& image, int first, int count, bool allowBytes, bool slopeOnly);

    Kind kind() const { return m_kind; }
    int bitsAllocated() const { return m_bitsAllocated; }
    bool isSigned() const { return m_isSigned; }
    double slope() const { return m_slope; }
    double intercept() const { return m_intercept; }

    // The Image Pixel attributes with the pixel data, and the rescale: Rescale Slope and
    // Intercept, or Dose Grid Scaling with `slopeOnly`.
    void write(DcmItem& item, const SharedImage& image, int first, int count, bool slopeOnly) const;
    // write() in two steps: the attributes (an empty Float Pixel Data for floating point), then
    // the samples, so that a writer may add them only while it writes the dataset.
    void writeAttributes(DcmItem& item, const SharedImage& image, bool slopeOnly) const;
    void writePixels(DcmItem& item, const SharedImage& image, int first, int count) const;

private:
    Kind m_kind = Kind::Integer;
    int m_bitsAllocated = 16;
    bool m_isSigned = false;
    double m_slope = 1;      // of the written rescale
    double m_intercept = 0;  // of the written rescale
    // Integer samples: stored = image sample - offset, or, for real values (`fromReal`),
    // round((real value - intercept) / slope).
    std::int64_t m_offset = 0;
    bool m_fromReal = false;
};

}  // namespace Dravelin::Dicom
