#include "host/dicom/EncapsulatedFrames.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <algorithm>
#include <array>

namespace Dravelin::Dicom {

namespace {

std::uint32_t littleEndian32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint32_t bigEndian32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

unsigned bigEndian16(const std::uint8_t* p)
{
    return unsigned(p[0]) << 8 | unsigned(p[1]);
}

bool isJpeg(E_TransferSyntax xfer)
{
    return (xfer >= EXS_JPEGProcess1 && xfer <= EXS_JPEGProcess14SV1) || xfer == EXS_JPEGLSLossless ||
           xfer == EXS_JPEGLSLossy;
}

bool isJpeg2000(E_TransferSyntax xfer)
{
    return xfer >= EXS_JPEG2000LosslessOnly && xfer <= EXS_JPEG2000Multicomponent;
}

std::string size(long long columns, long long rows)
{
    return std::to_string(columns) + " x " + std::to_string(rows);
}

struct Fragment
{
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
};

Fragment fragment(DcmPixelSequence& sequence, unsigned long index)
{
    DcmPixelItem* item = nullptr;
    Uint8* data = nullptr;
    if (sequence.getItem(item, index).bad() || !item || item->getUint8Array(data).bad() || !data)
        return {};
    return {data, item->getLength()};
}

std::string rleProblem(DcmPixelSequence& sequence, unsigned long fragments, const EncapsulatedFrames::Image& image)
{
    if (fragments == static_cast<unsigned long>(image.frames)) {
        for (unsigned long i = 1; i <= fragments; ++i) {
            const Fragment f = fragment(sequence, i);
            std::string problem = EncapsulatedFrames::rleFrameProblem(f.data, f.length, image);
            if (!problem.empty())
                return image.frames > 1 ? "frame " + std::to_string(i) + ": " + problem : problem;
        }
        return {};
    }
    if (image.frames != 1)
        return "RLE fragments that do not match the frames";
    // One frame split over several fragments: its header lies in the first.
    std::size_t total = 0;
    for (unsigned long i = 1; i <= fragments; ++i) {
        const Fragment f = fragment(sequence, i);
        if (!f.data)
            return "an unreadable RLE fragment";
        total += f.length;
    }
    const Fragment first = fragment(sequence, 1);
    if (first.length < 64)
        return "an RLE frame shorter than its header";
    return EncapsulatedFrames::rleFrameProblem(first.data, total, image);
}

std::string codedSizeProblem(const char* codec, const std::optional<EncapsulatedFrames::CodedSize>& coded,
                             const EncapsulatedFrames::Image& image)
{
    if (!coded)
        return std::string("the first frame holds no readable ") + codec + " header";
    if (coded->columns != image.columns || (coded->rows != 0 && coded->rows != image.rows) ||
        coded->components != image.samplesPerPixel)
        return std::string("the first frame's ") + codec + " header declares " + size(coded->columns, coded->rows) +
               " pixels with " + std::to_string(coded->components) + " component(s), the image attributes " +
               size(image.columns, image.rows) + " with " + std::to_string(image.samplesPerPixel);
    return {};
}

}  // namespace

std::string EncapsulatedFrames::rleFrameProblem(const std::uint8_t* data, std::size_t length, const Image& image)
{
    if (!data || length < 64)
        return "an RLE frame shorter than its header";
    const std::uint32_t segments = littleEndian32(data);
    const unsigned long expected = static_cast<unsigned long>(image.samplesPerPixel) * ((image.bitsAllocated + 7) / 8);
    if (segments == 0 || segments > 15 || segments != expected)
        return "an RLE header with " + std::to_string(segments) + " segments";
    std::array<std::size_t, 16> offsets{};
    for (std::uint32_t i = 0; i < segments; ++i) {
        offsets[i] = littleEndian32(data + 4 * (i + 1));
        if (offsets[i] < 64 || (i > 0 && offsets[i] <= offsets[i - 1]) || offsets[i] >= length)
            return "an RLE segment offset outside the frame";
    }
    // A segment holds one byte of every pixel; a two-byte replicate run is the most it can say.
    const auto pixels = static_cast<unsigned long long>(image.rows) * static_cast<unsigned long long>(image.columns);
    for (std::uint32_t i = 0; i < segments; ++i) {
        const std::size_t bytes = (i + 1 < segments ? offsets[i + 1] : length) - offsets[i];
        if (static_cast<unsigned long long>(bytes / 2) * 128 < pixels)
            return "an RLE segment of " + std::to_string(bytes) + " bytes, too short for " +
                   size(image.columns, image.rows) + " pixels";
    }
    return {};
}

std::optional<EncapsulatedFrames::CodedSize> EncapsulatedFrames::jpegSize(const std::uint8_t* data, std::size_t length)
{
    if (!data || length < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return std::nullopt;
    std::size_t at = 2;
    while (at + 4 <= length) {
        if (data[at] != 0xFF)
            return std::nullopt;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without a length
            at += 2;
            continue;
        }
        const std::size_t segment = bigEndian16(data + at + 2);
        // Start of frame: SOF0-SOF15 except DHT, JPG and DAC; SOF55 for JPEG-LS.
        const bool frame =
            (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) || marker == 0xF7;
        if (frame) {
            if (segment < 8 || at + 10 > length)
                return std::nullopt;
            return CodedSize{bigEndian16(data + at + 7), bigEndian16(data + at + 5), data[at + 9]};
        }
        if (segment < 2 || marker == 0xDA || marker == 0xD9)
            return std::nullopt;  // a scan or the end before any frame header
        at += 2 + segment;
    }
    return std::nullopt;
}

std::optional<EncapsulatedFrames::CodedSize> EncapsulatedFrames::jpeg2000Size(const std::uint8_t* data,
                                                                              std::size_t length)
{
    if (!data)
        return std::nullopt;
    // SOC followed by SIZ starts every code stream, also the one inside a JP2 file's box.
    static const std::uint8_t start[] = {0xFF, 0x4F, 0xFF, 0x51};
    const std::uint8_t* end = data + length;
    const std::uint8_t* soc = std::search(data, end, std::begin(start), std::end(start));
    if (end - soc < 42)
        return std::nullopt;
    const std::uint32_t xsiz = bigEndian32(soc + 8), ysiz = bigEndian32(soc + 12);
    const std::uint32_t xosiz = bigEndian32(soc + 16), yosiz = bigEndian32(soc + 20);
    if (xsiz <= xosiz || ysiz <= yosiz)
        return std::nullopt;
    return CodedSize{static_cast<long long>(xsiz - xosiz), static_cast<long long>(ysiz - yosiz),
                     static_cast<int>(bigEndian16(soc + 40))};
}

std::string EncapsulatedFrames::problem(DcmDataset& dataset, int xferValue, const Image& image)
{
    const auto xfer = static_cast<E_TransferSyntax>(xferValue);
    if (!DcmXfer(xfer).isEncapsulated())
        return {};
    DcmElement* element = nullptr;
    if (dataset.findAndGetElement(DCM_PixelData, element).bad() || !element)
        return {};
    if (element->ident() != EVR_PixelData)
        return "compressed pixel data of an unexpected kind";
    auto* pixelData = static_cast<DcmPixelData*>(element);
    E_TransferSyntax original = EXS_Unknown;
    const DcmRepresentationParameter* parameter = nullptr;
    pixelData->getOriginalRepresentationKey(original, parameter);
    if (original != xfer)
        parameter = nullptr;
    DcmPixelSequence* sequence = nullptr;
    if (pixelData->getEncapsulatedRepresentation(xfer, parameter, sequence).bad() || !sequence)
        return "compressed pixel data that is not encapsulated";
    const unsigned long fragments = sequence->card() > 0 ? sequence->card() - 1 : 0;
    if (fragments == 0)
        return "compressed pixel data without fragments";
    if (image.frames > static_cast<long long>(fragments))
        return std::to_string(image.frames) + " frames declared, but the compressed pixel data holds only " +
               std::to_string(fragments) + " fragment(s)";
    if (xfer == EXS_RLELossless)
        return rleProblem(*sequence, fragments, image);
    const Fragment first = fragment(*sequence, 1);
    if (isJpeg(xfer))
        return codedSizeProblem("JPEG", jpegSize(first.data, first.length), image);
    if (isJpeg2000(xfer))
        return codedSizeProblem("JPEG 2000", jpeg2000Size(first.data, first.length), image);
    return {};
}

}  // namespace Dravelin::Dicom
