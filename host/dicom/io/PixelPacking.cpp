#include "host/dicom/io/PixelPacking.h"

#include "host/dicom/io/DicomDatasetFactory.h"
#include "host/dicom/io/PixelDecoder.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/ofstd/ofstd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace Dravelin::Dicom {

namespace {

// The pixel attributes, and how stored samples become real values.
struct Layout
{
    PixelFormat format;
    bool isFloat = false;
    bool slopeOnly = false;  // RT Dose: Dose Grid Scaling, no intercept
    double slope = 1;
    double intercept = 0;
    std::string sopClass;

    int channels() const { return format.samplesPerPixel; }
    int bitsAllocated() const { return format.bitsAllocated; }
    bool isSigned() const { return format.isSigned; }
    std::size_t samples() const
    {
        return std::size_t(format.rows) * std::size_t(format.columns) * std::size_t(format.frames) *
               std::size_t(format.samplesPerPixel);
    }
};

double number(DcmDataset& ds, const DcmTagKey& key, double fallback)
{
    Float64 value = 0;
    return ds.findAndGetFloat64(key, value).good() ? value : fallback;
}

Layout readLayout(DcmDataset& ds)
{
    Layout l;
    PixelDecoder decoder(ds);
    Error ignored;  // an unreadable format is refused when the samples are read
    decoder.openFormat(ignored);
    l.format = decoder.format();
    OFString uid;
    ds.findAndGetOFString(DCM_SOPClassUID, uid);
    l.sopClass = uid.c_str();
    l.isFloat = ds.tagExists(DCM_FloatPixelData);
    l.slopeOnly = l.sopClass == UID_RTDoseStorage;
    l.slope = number(ds, l.slopeOnly ? DCM_DoseGridScaling : DCM_RescaleSlope, 1.0);
    l.intercept = l.slopeOnly ? 0.0 : number(ds, DCM_RescaleIntercept, 0.0);
    return l;
}

std::string objectName(const Layout& l)
{
    return dcmFindNameOfUID(l.sopClass.c_str(), "this object");
}

Error refusal(const std::string& text)
{
    return Error(Error::NotSupported, Error::Fatal, text);
}

// Calls f(stored value) for every sample, frame after frame.
template <typename F>
bool forEachStored(DcmDataset& ds, const Layout& l, Error& error, F&& f)
{
    if (l.isFloat) {
        const Float32* values = nullptr;
        unsigned long count = 0;
        if (ds.findAndGetFloat32Array(DCM_FloatPixelData, values, &count).bad() || !values || count < l.samples()) {
            error = refusal("the floating-point pixel data is incomplete");
            return false;
        }
        for (std::size_t i = 0; i < l.samples(); ++i)
            f(static_cast<double>(values[i]));
        return true;
    }
    PixelDecoder decoder(ds);
    if (!decoder.open(error))
        return false;
    std::vector<std::uint8_t> frame(decoder.outputFrameBytes());
    const std::size_t perFrame = frame.size() / std::size_t(voxelSize(decoder.outputType()));
    for (int k = 0; k < decoder.format().frames; ++k) {
        if (!decoder.decodeFrame(k, frame.data(), error))
            return false;
        auto each = [&](auto zero) {
            using T = decltype(zero);
            const T* p = reinterpret_cast<const T*>(frame.data());
            for (std::size_t i = 0; i < perFrame; ++i)
                f(static_cast<double>(p[i]));
        };
        switch (decoder.outputType()) {
            case VoxelType::UInt8: each(std::uint8_t{}); break;
            case VoxelType::Int8: each(std::int8_t{}); break;
            case VoxelType::UInt16: each(std::uint16_t{}); break;
            case VoxelType::Int16: each(std::int16_t{}); break;
            case VoxelType::UInt32: each(std::uint32_t{}); break;
            case VoxelType::Int32: each(std::int32_t{}); break;
            case VoxelType::Float: each(float{}); break;
        }
    }
    return true;
}

// New unsigned samples of `bitsAllocated` (8 or 16) bits, `bitsStored` of them used, with the
// rescale that makes them real values again.
void putSamples(DcmDataset& ds, const Layout& l, std::vector<Uint16>& words, int bitsStored, double slope,
                double intercept)
{
    delete ds.remove(DCM_FloatPixelData);
    delete ds.remove(DCM_PixelData);
    ds.putAndInsertUint16Array(DCM_PixelData, words.data(), static_cast<unsigned long>(words.size()));
    ds.putAndInsertUint16(DCM_BitsAllocated, 16);
    ds.putAndInsertUint16(DCM_BitsStored, static_cast<Uint16>(bitsStored));
    ds.putAndInsertUint16(DCM_HighBit, static_cast<Uint16>(bitsStored - 1));
    ds.putAndInsertUint16(DCM_PixelRepresentation, 0);
    if (l.slopeOnly) {
        ds.putAndInsertString(DCM_DoseGridScaling, decimalString(slope).c_str());
    } else {
        ds.putAndInsertString(DCM_RescaleIntercept, decimalString(intercept).c_str());
        ds.putAndInsertString(DCM_RescaleSlope, decimalString(slope).c_str());
    }
}

// 16-bit signed samples made unsigned by a fixed offset, folded into the rescale intercept;
// exact. The offset does not depend on the values, so every slice of a series gets the same.
bool makeUnsigned(DcmDataset& ds, const Layout& l, Error& error)
{
    if (!l.isSigned())
        return true;
    const double intercept = l.intercept - 32768.0 * l.slope;
    if (l.slopeOnly || OFStandard::atof(decimalString(intercept).c_str()) != intercept) {
        error = refusal("the signed samples cannot be made unsigned without changing their rescale");
        return false;
    }
    std::vector<Uint16> words;
    words.reserve(l.samples());
    if (!forEachStored(ds, l, error, [&](double v) { words.push_back(static_cast<Uint16>(v + 32768)); }))
        return false;
    putSamples(ds, l, words, 16, l.slope, intercept);
    return true;
}

// Real values quantised to unsigned `bits`-bit samples that span `range`.
bool quantise(DcmDataset& ds, const Layout& l, int bits, const PixelPacking::ValueRange& range, Error& error)
{
    if (l.slopeOnly && range.lo < 0) {
        error = refusal("RT Dose samples cannot hold negative doses");
        return false;
    }
    const double top = std::ldexp(1.0, bits) - 1;
    const double base = l.slopeOnly ? 0.0 : range.lo;
    // The rescale as the reader will parse it, so that rounding is to the values it gives back.
    const double slope = OFStandard::atof(decimalString(range.hi > base ? (range.hi - base) / top : 1.0).c_str());
    const double intercept = OFStandard::atof(decimalString(base).c_str());
    std::vector<Uint16> words;
    words.reserve(l.samples());
    if (!forEachStored(ds, l, error, [&](double v) {
            const double k = std::round((v * l.slope + l.intercept - intercept) / slope);
            words.push_back(static_cast<Uint16>(std::clamp(k, 0.0, top)));
        }))
        return false;
    putSamples(ds, l, words, bits, slope, intercept);
    return true;
}

const char* codecName(Compression c)
{
    switch (c) {
        case Compression::JpegLossless: return "Lossless JPEG";
        case Compression::JpegLsLossless: return "Lossless JPEG-LS";
        default: return "Lossless JPEG 2000";
    }
}

}  // namespace

bool PixelPacking::accepts(DcmDataset& dataset, Compression compression, Error& error)
{
    const Layout l = readLayout(dataset);
    if (l.channels() != 1)
        return true;
    const bool native = static_cast<int>(compression) <= static_cast<int>(Compression::ExplicitBigEndian);
    if (isLosslessCompression(compression)) {
        if (l.isFloat) {
            error = refusal(
                "the image holds floating-point values that no rescale of 16-bit integers gives back, "
                "and " +
                objectName(l) + " holds integer samples only: choose a lossy compression to quantise them");
            return false;
        }
        if (native && l.bitsAllocated() > 16 && !l.slopeOnly) {
            error = refusal("the image holds integers that need " + std::to_string(l.bitsAllocated()) +
                            "-bit samples, and " + objectName(l) +
                            " holds at most 16 bits: choose a lossy compression to quantise them");
            return false;
        }
        if (!native && l.bitsAllocated() > 16) {
            error =
                refusal(std::string(codecName(compression)) + " holds at most 16 bits per sample: write the " +
                        std::to_string(l.bitsAllocated()) + "-bit samples uncompressed or choose a lossy compression");
            return false;
        }
        return true;
    }
    if (compression == Compression::JpegLossy && l.slopeOnly) {
        error = refusal(
            "RT Dose stores as many bits as it allocates (16 or 32), which lossy JPEG (8 or 12 bits) "
            "cannot: choose JPEG-LS or JPEG 2000");
        return false;
    }
    return true;
}

bool PixelPacking::widenRange(DcmDataset& dataset, ValueRange& range, Error& error)
{
    const Layout l = readLayout(dataset);
    if (l.channels() != 1 || !dataset.tagExists(l.isFloat ? DCM_FloatPixelData : DCM_PixelData))
        return true;
    bool finite = true;
    if (!forEachStored(dataset, l, error, [&](double v) {
            const double real = v * l.slope + l.intercept;
            finite = finite && std::isfinite(real);
            range.lo = std::min(range.lo, real);
            range.hi = std::max(range.hi, real);
        }))
        return false;
    if (!finite)
        error = refusal("the image holds values that are not finite numbers");
    return finite;
}

PixelPacking::Result PixelPacking::fit(DcmDataset& dataset, Compression compression, Error& error,
                                       const ValueRange* seriesRange)
{
    if (!accepts(dataset, compression, error))
        return Result::Refused;
    const Layout l = readLayout(dataset);
    if (l.channels() != 1 || !dataset.tagExists(l.isFloat ? DCM_FloatPixelData : DCM_PixelData))
        return Result::Exact;
    if (static_cast<int>(compression) <= static_cast<int>(Compression::ExplicitBigEndian))
        return Result::Exact;
    if (isLosslessCompression(compression) ||
        (!l.isFloat && l.bitsAllocated() <= 16 && compression != Compression::JpegLossy))
        return l.bitsAllocated() != 16 || makeUnsigned(dataset, l, error) ? Result::Exact : Result::Refused;
    if (l.bitsAllocated() == 8 && !l.isSigned() && !l.isFloat)
        return Result::Exact;
    ValueRange range;
    if (seriesRange)
        range = *seriesRange;
    else if (!widenRange(dataset, range, error))
        return Result::Refused;
    if (range.lo > range.hi)
        range.lo = range.hi = 0;
    return quantise(dataset, l, compression == Compression::JpegLossy ? 12 : 16, range, error) ? Result::Quantised
                                                                                               : Result::Refused;
}

}  // namespace Dravelin::Dicom
