#include "host/dicom/io/PixelPlan.h"

#include "host/data/SharedImage.h"
#include "host/dicom/io/DicomDatasetFactory.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/ofstd/ofstd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_set>
#include <vector>

namespace Dravelin::Dicom {

namespace {

struct ValueRange
{
    double lo = 0;
    double hi = 0;
    bool integral = true;  // every value an integer that 32 signed bits hold
};

template <typename F>
void forEachSample(const SharedImage& image, std::size_t start, std::size_t n, F&& f)
{
    dispatchPixelType(image.pixelType(), [&](auto zero) {
        using T = decltype(zero);
        const T* p = static_cast<const T*>(image.data()) + start;
        for (std::size_t i = 0; i < n; ++i)
            f(i, static_cast<double>(p[i]));
        return 0;
    });
}

ValueRange rangeOf(const SharedImage& image, std::size_t start, std::size_t n)
{
    ValueRange r;
    r.lo = std::numeric_limits<double>::infinity();
    r.hi = -r.lo;
    forEachSample(image, start, n, [&](std::size_t, double v) {
        r.lo = std::min(r.lo, v);
        r.hi = std::max(r.hi, v);
        if (v != std::floor(v) || std::abs(v) > 2147483647.0)  // NaN fails the first test
            r.integral = false;
    });
    if (n == 0)
        r.lo = r.hi = 0;
    return r;
}

// A value as the reader gets it back from the decimal text written for it.
double readBack(double value)
{
    return OFStandard::atof(decimalString(value).c_str());
}

// A value rounded to `digits` significant decimal digits.
double rounded(double value, int digits)
{
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%.*g", digits, value);
    return OFStandard::atof(buffer);
}

// Whether unsigned 16-bit integers k give back every value as float(k * slope + intercept).
bool reproduces(const std::vector<double>& values, double slope, double intercept)
{
    if (!(slope > 0))
        return false;
    for (double v : values) {
        const double k = std::round((v - intercept) / slope);
        if (k < 0 || k > 65535 || static_cast<float>(k * slope + intercept) != static_cast<float>(v))
            return false;
    }
    return true;
}

// A rescale of unsigned 16-bit integers that gives back every one of the (sorted, distinct)
// values, to the float precision they were held in. Values that came from a rescale of integers
// have a step that is a short decimal (it was written as one), and their smallest value is an
// intercept: both are tried at increasing precision.
bool deriveRescale(const std::vector<double>& values, double& slope, double& intercept)
{
    if (values.empty())
        return false;
    double gap = std::numeric_limits<double>::infinity();
    for (std::size_t i = 1; i < values.size(); ++i)
        gap = std::min(gap, values[i] - values[i - 1]);
    const double span = values.back() - values.front();
    const double steps = values.size() > 1 ? std::round(span / gap) : 1.0;
    if (!std::isfinite(span) || steps < 1 || steps > 65535)
        return false;
    const double estimate = values.size() > 1 ? span / steps : 1.0;
    for (int digits = 1; digits <= 10; ++digits) {
        slope = rounded(estimate, digits);
        intercept = rounded(values.front(), digits);
        if (reproduces(values, slope, intercept))
            return true;
    }
    return false;
}

// The distinct real values of some samples, sorted; empty when there are more than 16 bits hold.
std::vector<double> distinctValues(const SharedImage& image, std::size_t start, std::size_t n)
{
    const double s0 = image.rescaleSlope();
    const double b0 = image.rescaleIntercept();
    std::unordered_set<double> seen;
    bool tooMany = false;
    forEachSample(image, start, n, [&](std::size_t, double v) {
        if (tooMany)
            return;
        seen.insert(v * s0 + b0);
        tooMany = seen.size() > 65536;
    });
    if (tooMany)
        return {};
    std::vector<double> values(seen.begin(), seen.end());
    std::sort(values.begin(), values.end());
    return values;
}

void putWords(DcmItem& item, const std::vector<Uint16>& words)
{
    item.putAndInsertUint16Array(DCM_PixelData, words.data(), static_cast<unsigned long>(words.size()));
}

}  // namespace

PixelPlan PixelPlan::make(const SharedImage& image, int first, int count, bool allowBytes, bool slopeOnly)
{
    PixelPlan plan;
    if (image.pixelType() == PixelType::RGB) {
        plan.m_kind = Kind::Rgb;
        plan.m_bitsAllocated = 8;
        return plan;
    }
    const std::size_t perSlice = static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.height());
    const std::size_t start = perSlice * static_cast<std::size_t>(first);
    const std::size_t n = perSlice * static_cast<std::size_t>(count);
    const double s0 = image.rescaleSlope();
    const double b0 = image.rescaleIntercept();
    const ValueRange range = rangeOf(image, start, n);
    plan.m_slope = s0;
    plan.m_intercept = b0;
    if (range.integral) {
        const auto lo = static_cast<std::int64_t>(range.lo);
        const auto hi = static_cast<std::int64_t>(range.hi);
        if (slopeOnly) {
            // The intercept must become whole samples: stored = value + intercept / slope.
            const double shift = b0 / s0;
            if (shift == std::floor(shift) && std::abs(shift) <= 2147483647.0 && lo + std::int64_t(shift) >= 0 &&
                hi + std::int64_t(shift) <= 4294967295LL) {
                plan.m_offset = -static_cast<std::int64_t>(shift);
                plan.m_intercept = 0;
                plan.m_bitsAllocated = hi - plan.m_offset <= 65535 ? 16 : 32;
                return plan;
            }
        } else if (allowBytes && image.pixelType() == PixelType::UInt8 && s0 == 1 && b0 == 0) {
            plan.m_bitsAllocated = 8;
            return plan;
        } else if (lo >= 0 && hi <= 65535) {
            return plan;
        } else if (lo >= -32768 && hi <= 32767) {
            plan.m_isSigned = true;
            return plan;
        } else if (hi - lo <= 65535 && readBack(b0 + double(lo) * s0) == b0 + double(lo) * s0) {
            plan.m_offset = lo;
            plan.m_intercept = b0 + double(lo) * s0;
            return plan;
        } else {
            plan.m_bitsAllocated = 32;
            plan.m_isSigned = lo < 0;
            return plan;
        }
    }
    if (!slopeOnly) {
        double slope = 1, intercept = 0;
        const std::vector<double> values = distinctValues(image, start, n);
        if (deriveRescale(values, slope, intercept)) {
            plan.m_fromReal = true;
            plan.m_slope = slope;
            plan.m_intercept = intercept;
            return plan;
        }
    }
    plan.m_kind = Kind::Float;
    plan.m_bitsAllocated = 32;
    plan.m_slope = 1;
    plan.m_intercept = 0;
    return plan;
}

void PixelPlan::write(DcmItem& item, const SharedImage& image, int first, int count, bool slopeOnly) const
{
    writeAttributes(item, image, slopeOnly);
    writePixels(item, image, first, count);
}

void PixelPlan::writeAttributes(DcmItem& item, const SharedImage& image, bool slopeOnly) const
{
    const bool rgb = m_kind == Kind::Rgb;
    item.putAndInsertUint16(DCM_SamplesPerPixel, rgb ? 3 : 1);
    item.putAndInsertString(DCM_PhotometricInterpretation, rgb ? "RGB" : "MONOCHROME2");
    if (rgb)
        item.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    item.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(image.height()));
    item.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(image.width()));
    item.putAndInsertUint16(DCM_BitsAllocated, static_cast<Uint16>(m_bitsAllocated));
    item.putAndInsertUint16(DCM_BitsStored, static_cast<Uint16>(m_bitsAllocated));
    item.putAndInsertUint16(DCM_HighBit, static_cast<Uint16>(m_bitsAllocated - 1));
    item.putAndInsertUint16(DCM_PixelRepresentation, m_isSigned ? 1 : 0);
    if (m_kind == Kind::Float && !item.tagExists(DCM_FloatPixelData))
        item.insertEmptyElement(DCM_FloatPixelData);  // says "floating point" until the values come
    if (rgb)
        return;
    if (slopeOnly) {
        item.putAndInsertString(DCM_DoseGridScaling, decimalString(m_slope).c_str());
    } else {
        item.putAndInsertString(DCM_RescaleIntercept, decimalString(m_intercept).c_str());
        item.putAndInsertString(DCM_RescaleSlope, decimalString(m_slope).c_str());
    }
}

void PixelPlan::writePixels(DcmItem& item, const SharedImage& image, int first, int count) const
{
    const bool rgb = m_kind == Kind::Rgb;
    const std::size_t perSlice =
        static_cast<std::size_t>(image.width()) * std::size_t(image.height()) * std::size_t(image.channels());
    const std::size_t start = perSlice * std::size_t(first);
    const std::size_t n = perSlice * std::size_t(count);
    if (rgb) {
        item.putAndInsertUint8Array(DCM_PixelData, static_cast<const Uint8*>(image.data()) + start,
                                    static_cast<unsigned long>(n));
        return;
    }
    const double s0 = image.rescaleSlope();
    const double b0 = image.rescaleIntercept();
    if (m_kind == Kind::Float) {
        std::vector<Float32> values(n);
        forEachSample(image, start, n, [&](std::size_t i, double v) { values[i] = static_cast<Float32>(v * s0 + b0); });
        item.putAndInsertFloat32Array(DCM_FloatPixelData, values.data(), static_cast<unsigned long>(n));
    } else {
        auto stored = [&](double v) {
            return m_fromReal ? static_cast<std::int64_t>(std::llround((v * s0 + b0 - m_intercept) / m_slope))
                              : static_cast<std::int64_t>(v) - m_offset;
        };
        if (m_bitsAllocated == 8) {
            std::vector<Uint8> bytes(n);
            forEachSample(image, start, n, [&](std::size_t i, double v) { bytes[i] = static_cast<Uint8>(stored(v)); });
            item.putAndInsertUint8Array(DCM_PixelData, bytes.data(), static_cast<unsigned long>(n));
        } else if (m_bitsAllocated == 16) {
            std::vector<Uint16> words(n);
            forEachSample(image, start, n, [&](std::size_t i, double v) { words[i] = static_cast<Uint16>(stored(v)); });
            putWords(item, words);
        } else {
            // Little-endian samples: the low word first.
            std::vector<Uint16> words(2 * n);
            forEachSample(image, start, n, [&](std::size_t i, double v) {
                const auto w = static_cast<std::uint32_t>(stored(v));
                words[2 * i] = static_cast<Uint16>(w & 0xffff);
                words[2 * i + 1] = static_cast<Uint16>(w >> 16);
            });
            putWords(item, words);
        }
    }
}

}  // namespace Dravelin::Dicom
