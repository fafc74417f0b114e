#include "host/dicom/deid/PixelCleaner.h"

#include "host/dicom/Utils.h"
#include "host/dicom/io/DicomWriter.h"
#include "host/dicom/io/PixelDecoder.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcrleerg.h>

#include <algorithm>
#include <limits>
#include <mutex>

namespace Dravelin::Dicom {

namespace {

// Why the cleaner leaves the image alone, or nullptr when it cleans it.
const char* refusal(const PixelFormat& f)
{
    if (f.bitsAllocated != 8 && f.bitsAllocated != 16)
        return "only 8- and 16-bit samples are cleaned";
    if (f.samplesPerPixel == 1 && f.photometric != "MONOCHROME1" && f.photometric != "MONOCHROME2")
        return "only monochrome, RGB and YBR_FULL images are cleaned";
    if (f.samplesPerPixel == 3 && f.photometric != "RGB" && f.photometric != "YBR_FULL")
        return "only monochrome, RGB and YBR_FULL images are cleaned";
    return nullptr;
}

bool readFormat(DcmDataset& dataset, PixelFormat& format, std::string* error)
{
    PixelDecoder decoder(dataset);
    Error problem;
    if (!decoder.openFormat(problem)) {
        if (error)
            *error = problem.message;
        return false;
    }
    format = decoder.format();
    const char* reason = refusal(format);
    if (reason && error)
        *error = reason;
    return !reason;
}

template <typename T>
void fill(std::vector<T>& values, const PixelFormat& format, const std::vector<PixelCleaner::Region>& regions,
          const std::vector<T>& darkest)
{
    const QRect image(0, 0, static_cast<int>(format.columns), static_cast<int>(format.rows));
    const size_t frameSize = static_cast<size_t>(format.rows) * format.columns * format.samplesPerPixel;
    for (const PixelCleaner::Region& region : regions) {
        const QRect rect = region.rect.intersected(image);
        if (rect.isEmpty() || region.frame >= format.frames)
            continue;
        const long first = region.frame < 0 ? 0 : region.frame;
        const long last = region.frame < 0 ? format.frames - 1 : region.frame;
        for (long f = first; f <= last; ++f) {
            const size_t base = f * frameSize;
            for (int s = 0; s < format.samplesPerPixel; ++s)
                for (int y = rect.top(); y <= rect.bottom(); ++y)
                    for (int x = rect.left(); x <= rect.right(); ++x) {
                        const size_t at =
                            format.planarConfiguration == 1
                                ? base + (static_cast<size_t>(s) * format.rows + y) * format.columns + x
                                : base + (static_cast<size_t>(y) * format.columns + x) * format.samplesPerPixel + s;
                        values[at] = darkest[s];
                    }
        }
    }
}

// The darkest value of each sample.
template <typename T>
std::vector<T> darkestOf(const std::vector<T>& values, const PixelFormat& format)
{
    if (format.samplesPerPixel == 3) {
        const T middle = static_cast<T>(1u << (format.bitsAllocated - 1));
        return format.photometric == "RGB" ? std::vector<T>{0, 0, 0} : std::vector<T>{0, middle, middle};
    }
    using Signed = std::conditional_t<sizeof(T) == 1, int8_t, int16_t>;
    const auto key = [&](T v) {
        return format.isSigned ? static_cast<int>(static_cast<Signed>(v)) : static_cast<int>(v);
    };
    const auto [low, high] =
        std::minmax_element(values.begin(), values.end(), [&](T a, T b) { return key(a) < key(b); });
    if (low == values.end())
        return {0};
    return {format.photometric == "MONOCHROME1" ? *high : *low};
}

template <typename T>
bool cleanValues(DcmPixelData& pixels, const T* data, unsigned long count, const PixelFormat& format,
                 const std::vector<PixelCleaner::Region>& regions, std::string* error)
{
    const size_t needed = static_cast<size_t>(format.rows) * format.columns * format.samplesPerPixel * format.frames;
    if (!data || count < needed) {
        if (error)
            *error = "the pixel data is shorter than its rows, columns and frames";
        return false;
    }
    std::vector<T> values(data, data + count);
    fill(values, format, regions, darkestOf(values, format));
    // A new value drops every encoded representation the element still holds.
    OFCondition status;
    if constexpr (sizeof(T) == 1)
        status = pixels.putUint8Array(values.data(), static_cast<unsigned long>(values.size()));
    else
        status = pixels.putUint16Array(values.data(), static_cast<unsigned long>(values.size()));
    if (status.bad() && error)
        *error = std::string("DCMTK refused the new pixel data: ") + status.text();
    return status.good();
}

void registerEncoders()
{
    static std::once_flag once;
    std::call_once(once, [] {
        DicomWriter::registerCodecs();
        DcmRLEEncoderRegistration::registerCodecs();
    });
}

DcmPixelData* pixelDataOf(DcmDataset& dataset)
{
    DcmElement* element = nullptr;
    if (dataset.findAndGetElement(DCM_PixelData, element).bad() || !element || element->ident() != EVR_PixelData)
        return nullptr;
    return static_cast<DcmPixelData*>(element);
}

bool isJpeg2000(E_TransferSyntax xfer)
{
    return xfer == EXS_JPEG2000 || xfer == EXS_JPEG2000LosslessOnly || xfer == EXS_JPEG2000Multicomponent ||
           xfer == EXS_JPEG2000MulticomponentLosslessOnly;
}

// DCMTK has no JPEG 2000 codec: the frames are decoded here into native pixel data. Colour comes
// out as RGB, its transform undone by the decoder.
bool decodeJpeg2000(DcmDataset& dataset, DcmPixelData& pixels, std::string* error)
{
    PixelDecoder decoder(dataset);
    Error problem;
    const auto fail = [&](const std::string& reason) {
        if (error)
            *error = "its JPEG 2000 pixel data cannot be decoded: " + reason;
        return false;
    };
    if (!decoder.open(problem))
        return fail(problem.message);
    const PixelFormat& format = decoder.format();
    if ((format.bitsAllocated != 8 && format.bitsAllocated != 16) || format.photometric == "PALETTE COLOR") {
        if (error)
            *error = format.photometric == "PALETTE COLOR" ? "only monochrome, RGB and YBR_FULL images are cleaned"
                                                           : "only 8- and 16-bit samples are cleaned";
        return false;
    }
    const size_t frameBytes = decoder.outputFrameBytes();
    std::vector<uint8_t> values(frameBytes * static_cast<size_t>(format.frames));
    for (int frame = 0; frame < format.frames; ++frame)
        if (!decoder.decodeFrame(frame, values.data() + frameBytes * static_cast<size_t>(frame), problem))
            return fail(problem.message);
    const OFCondition status = format.bitsAllocated == 8
                                   ? pixels.putUint8Array(values.data(), static_cast<unsigned long>(values.size()))
                                   : pixels.putUint16Array(reinterpret_cast<const Uint16*>(values.data()),
                                                           static_cast<unsigned long>(values.size() / 2));
    if (status.bad())
        return fail(status.text());
    if (format.samplesPerPixel == 3) {
        dataset.putAndInsertString(DCM_PhotometricInterpretation, "RGB");
        dataset.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    }
    return true;
}

}  // namespace

bool PixelCleaner::makeNative(DcmDataset& dataset, std::string* error)
{
    DcmPixelData* pixels = pixelDataOf(dataset);
    if (!pixels) {
        if (error)
            *error = "no pixel data";
        return false;
    }
    const DcmXfer source(dataset.getOriginalXfer());
    if (!source.isEncapsulated())
        return true;
    if (isJpeg2000(source.getXfer()))
        return decodeJpeg2000(dataset, *pixels, error);
    Utils::registerCodecs();
    const OFCondition status = dataset.chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
    if (status.bad() || !dataset.canWriteXfer(EXS_LittleEndianExplicit)) {
        if (error)
            *error = std::string("its ") + source.getXferName() + " pixel data cannot be decoded";
        return false;
    }
    return true;
}

bool PixelCleaner::clean(DcmDataset& dataset, const std::vector<Region>& regions, std::string* error)
{
    PixelFormat format;
    if (!readFormat(dataset, format, error))
        return false;
    DcmPixelData* pixels = pixelDataOf(dataset);
    if (!pixels) {
        if (error)
            *error = "no pixel data";
        return false;
    }
    if (format.bitsAllocated == 8) {
        Uint8* data = nullptr;
        pixels->getUint8Array(data);
        return cleanValues<Uint8>(*pixels, data, pixels->getLength(), format, regions, error);
    }
    Uint16* data = nullptr;
    pixels->getUint16Array(data);
    return cleanValues<Uint16>(*pixels, data, pixels->getLength() / 2, format, regions, error);
}

E_TransferSyntax PixelCleaner::writeSyntax(DcmDataset& dataset, E_TransferSyntax source, std::string* note)
{
    const DcmXfer xfer(source);
    if (!xfer.isEncapsulated())
        return EXS_Unknown;
    if (source == EXS_JPEG2000LosslessOnly) {
        Error problem;
        if (DicomWriter::encodeLosslessJpeg2000(dataset, problem))
            return source;
        if (note)
            *note =
                "its JPEG 2000 pixel data could not be encoded again (" + problem.message + "): written uncompressed";
    } else if (xfer.isLossless()) {
        registerEncoders();
        if (dataset.chooseRepresentation(source, nullptr).good() && dataset.canWriteXfer(source))
            return source;
        if (note)
            *note = std::string("its ") + xfer.getXferName() +
                    " pixel data could not be encoded again: written uncompressed";
    } else if (note) {
        *note = std::string("its pixel data was lossy (") + xfer.getXferName() +
                "): written uncompressed, as compressing it again would lose quality twice";
    }
    dataset.chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
    return EXS_LittleEndianExplicit;
}

}  // namespace Dravelin::Dicom
