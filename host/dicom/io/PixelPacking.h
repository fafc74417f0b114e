#pragma once

#include "host/dicom/Error.h"
#include "host/dicom/io/Compression.h"

#include <limits>

class DcmDataset;

namespace Dravelin::Dicom {

// Fits the native pixel data of a dataset, as DicomDatasetFactory makes it, to what a transfer
// syntax and the dataset's object can carry. Works in place: callers pass a copy.
// - Uncompressed: nothing changes. 32-bit samples in an object that holds at most 16 bits, and
//   floating-point pixel data, are refused: no value may change silently.
// - Lossless compression: signed 16-bit samples become unsigned, offset by 32768, which the
//   rescale intercept takes back. More than 16 bits per sample, or floating point, are refused.
// - Lossy compression: 8-bit grey and colour samples stay. Other grey samples become unsigned
//   samples spanning the values' range with a new rescale: 12 bits for JPEG; for JPEG-LS and
//   JPEG 2000, integers of up to 16 bits keep their values (made unsigned as above) and wider or
//   floating-point values are quantised to 16 bits.
// Every change depends on the pixel attributes and, for quantisation, on the range given: the
// slices of a series written with their common range keep one pixel format and one rescale.
class PixelPacking
{
public:
    enum class Result { Refused, Exact, Quantised };
    struct ValueRange
    {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -std::numeric_limits<double>::infinity();
    };

    // `seriesRange`: the real values that quantised samples span; the dataset's own when null.
    static Result fit(DcmDataset& dataset, Compression compression, Error& error,
                      const ValueRange* seriesRange = nullptr);
    // Widens `range` by the real values of a grey dataset; false (with `error`) for values that
    // are not finite numbers or pixel data that cannot be read.
    static bool widenRange(DcmDataset& dataset, ValueRange& range, Error& error);
    // The refusals of fit() that the pixel attributes decide, without reading the samples.
    static bool accepts(DcmDataset& dataset, Compression compression, Error& error);
};

}  // namespace Dravelin::Dicom
