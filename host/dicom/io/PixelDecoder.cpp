#include "host/dicom/io/PixelDecoder.h"

#include "host/dicom/EncapsulatedFrames.h"
#include "host/dicom/Utils.h"
#include "host/dicom/io/Jpeg2000Codec.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <optional>

namespace Dravelin::Dicom {

namespace {

Error failure(Error::Code code, const std::string& text)
{
    return Error(code, Error::Fatal, text);
}

int intValue(DcmItem& item, const DcmTagKey& key, int fallback)
{
    Uint16 u = 0;
    if (item.findAndGetUint16(key, u).good())
        return u;
    Sint32 s = 0;
    if (item.findAndGetSint32(key, s).good())
        return s;
    OFString text;
    if (item.findAndGetOFString(key, text).good() && !text.empty())
        return std::atoi(text.c_str());
    return fallback;
}

// The product of `factors`, or nothing when it does not fit a size_t.
std::optional<std::size_t> product(std::initializer_list<std::size_t> factors)
{
    std::size_t result = 1;
    for (std::size_t factor : factors)
        if (__builtin_mul_overflow(result, factor, &result))
            return std::nullopt;
    return result;
}

bool isJpeg2000(E_TransferSyntax xfer)
{
    return xfer == EXS_JPEG2000LosslessOnly || xfer == EXS_JPEG2000 || xfer == EXS_JPEG2000MulticomponentLosslessOnly ||
           xfer == EXS_JPEG2000Multicomponent;
}

// Little-endian unsigned sample of 1, 2 or 4 bytes.
inline std::uint32_t sampleAt(const std::uint8_t* p, int bytes)
{
    switch (bytes) {
        case 1: return p[0];
        case 2: return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
        default:
            return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                   std::uint32_t(p[3]) << 24;
    }
}

// The stored bits of a raw sample, sign-extended when the pixels are signed.
struct StoredBits
{
    int shift;
    std::uint32_t mask;
    int bits;
    bool isSigned;

    std::int64_t operator()(std::uint32_t raw) const
    {
        std::uint32_t v = (raw >> shift) & mask;
        if (isSigned && bits < 32 && (v >> (bits - 1)) & 1u)
            return static_cast<std::int64_t>(v) - (std::int64_t(1) << bits);
        if (isSigned && bits == 32)
            return static_cast<std::int32_t>(v);
        return v;
    }
};

template <typename T>
void storeAs(std::uint8_t* out, std::size_t index, std::int64_t value)
{
    reinterpret_cast<T*>(out)[index] = static_cast<T>(value);
}

void storeSample(VoxelType type, std::uint8_t* out, std::size_t index, std::int64_t value)
{
    switch (type) {
        case VoxelType::UInt8: storeAs<std::uint8_t>(out, index, value); break;
        case VoxelType::Int8: storeAs<std::int8_t>(out, index, value); break;
        case VoxelType::UInt16: storeAs<std::uint16_t>(out, index, value); break;
        case VoxelType::Int16: storeAs<std::int16_t>(out, index, value); break;
        case VoxelType::UInt32: storeAs<std::uint32_t>(out, index, value); break;
        case VoxelType::Int32: storeAs<std::int32_t>(out, index, value); break;
        case VoxelType::Float: storeAs<float>(out, index, value); break;
    }
}

template <typename T>
void storeAll(const std::int32_t* in, std::size_t count, const StoredBits& bits, std::uint8_t* out)
{
    T* __restrict o = reinterpret_cast<T*>(out);
    for (std::size_t i = 0; i < count; ++i)
        o[i] = static_cast<T>(bits(static_cast<std::uint32_t>(in[i])));
}

// Decoded samples into the output type, one dispatch per frame rather than per sample.
void storeSamples(VoxelType type, const std::int32_t* in, std::size_t count, const StoredBits& bits, std::uint8_t* out)
{
    switch (type) {
        case VoxelType::UInt8: storeAll<std::uint8_t>(in, count, bits, out); break;
        case VoxelType::Int8: storeAll<std::int8_t>(in, count, bits, out); break;
        case VoxelType::UInt16: storeAll<std::uint16_t>(in, count, bits, out); break;
        case VoxelType::Int16: storeAll<std::int16_t>(in, count, bits, out); break;
        case VoxelType::UInt32: storeAll<std::uint32_t>(in, count, bits, out); break;
        case VoxelType::Int32: storeAll<std::int32_t>(in, count, bits, out); break;
        case VoxelType::Float: storeAll<float>(in, count, bits, out); break;
    }
}

// Fast path for the common grey case: 16-bit samples into a 16-bit output.
template <typename T>
void convertGrey16(const std::uint8_t* raw, std::size_t count, const StoredBits& bits, T* __restrict out)
{
    const auto* __restrict in = reinterpret_cast<const std::uint16_t*>(raw);
    if (bits.shift == 0 && bits.bits == 16) {
        std::memcpy(out, in, count * 2);
        return;
    }
    const std::uint16_t mask = static_cast<std::uint16_t>(bits.mask);
    if (!bits.isSigned) {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<T>((in[i] >> bits.shift) & mask);
        return;
    }
    const int up = 16 - bits.bits;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<T>(
            static_cast<std::int16_t>(static_cast<std::uint16_t>(((in[i] >> bits.shift) & mask) << up)) >> up);
}

std::uint8_t clampByte(double v)
{
    return static_cast<std::uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
}

void ybrToRgb(std::uint8_t* rgb, double y, double cb, double cr)
{
    cb -= 128.0;
    cr -= 128.0;
    rgb[0] = clampByte(y + 1.402 * cr);
    rgb[1] = clampByte(y - (0.114 * 1.772 / 0.587) * cb - (0.299 * 1.402 / 0.587) * cr);
    rgb[2] = clampByte(y + 1.772 * cb);
}

}  // namespace

void PixelDecoder::registerCodecs()
{
    Utils::registerCodecs();
}

PixelDecoder::PixelDecoder(DcmDataset& dataset) : m_dataset(dataset)
{
    registerCodecs();
}

PixelDecoder::~PixelDecoder() = default;

std::size_t PixelDecoder::outputFrameBytes() const
{
    return static_cast<std::size_t>(m_format.rows) * static_cast<std::size_t>(m_format.columns) *
           static_cast<std::size_t>(m_outputChannels) * static_cast<std::size_t>(voxelSize(m_outputType));
}

bool PixelDecoder::openFormat(Error& error)
{
    PixelFormat& f = m_format;
    f.rows = intValue(m_dataset, DCM_Rows, 0);
    f.columns = intValue(m_dataset, DCM_Columns, 0);
    f.samplesPerPixel = intValue(m_dataset, DCM_SamplesPerPixel, 1);
    f.bitsAllocated = intValue(m_dataset, DCM_BitsAllocated, 0);
    f.bitsStored = intValue(m_dataset, DCM_BitsStored, f.bitsAllocated);
    f.highBit = intValue(m_dataset, DCM_HighBit, f.bitsStored - 1);
    f.isSigned = intValue(m_dataset, DCM_PixelRepresentation, 0) == 1;
    f.planarConfiguration = intValue(m_dataset, DCM_PlanarConfiguration, 0);
    f.frames = intValue(m_dataset, DCM_NumberOfFrames, 1);
    OFString photometric;
    m_dataset.findAndGetOFString(DCM_PhotometricInterpretation, photometric);
    f.photometric = photometric.c_str();
    if (f.photometric.empty())
        f.photometric = f.samplesPerPixel == 3 ? "RGB" : "MONOCHROME2";

    if (f.rows <= 0 || f.columns <= 0 || f.frames <= 0) {
        error = failure(Error::MissingValue, "the image has no rows, columns or frames");
        return false;
    }
    if (f.bitsAllocated != 1 && f.bitsAllocated != 8 && f.bitsAllocated != 16 && f.bitsAllocated != 32) {
        error = failure(Error::NotSupported, "unsupported BitsAllocated " + std::to_string(f.bitsAllocated));
        return false;
    }
    if (f.bitsStored <= 0 || f.bitsStored > f.bitsAllocated || f.highBit < f.bitsStored - 1 ||
        f.highBit >= f.bitsAllocated) {
        f.bitsStored = f.bitsAllocated;  // inconsistent: trust the allocation
        f.highBit = f.bitsAllocated - 1;
    }
    if (f.samplesPerPixel != 1 && f.samplesPerPixel != 3) {
        error = failure(Error::NotSupported, "unsupported SamplesPerPixel " + std::to_string(f.samplesPerPixel));
        return false;
    }

    const bool palette = f.photometric == "PALETTE COLOR";
    if (palette && !readPalette(error))
        return false;
    if (f.samplesPerPixel == 3) {
        m_outputChannels = 3;
        m_outputType = f.bitsAllocated == 8    ? VoxelType::UInt8
                       : f.bitsAllocated == 16 ? VoxelType::UInt16
                                               : VoxelType::UInt32;
        if (f.photometric.rfind("YBR_", 0) == 0 && f.bitsAllocated != 8 && f.photometric != "YBR_RCT" &&
            f.photometric != "YBR_ICT") {
            error = failure(Error::NotSupported, "YBR colour needs 8-bit samples");
            return false;
        }
    } else if (palette) {
        m_outputChannels = 3;
        m_outputType = m_palette.wide ? VoxelType::UInt16 : VoxelType::UInt8;
    } else {
        m_outputChannels = 1;
        switch (f.bitsAllocated) {
            case 1:
            case 8: m_outputType = f.isSigned ? VoxelType::Int8 : VoxelType::UInt8; break;
            case 16: m_outputType = f.isSigned ? VoxelType::Int16 : VoxelType::UInt16; break;
            default: m_outputType = f.isSigned ? VoxelType::Int32 : VoxelType::UInt32; break;
        }
    }
    return true;
}

bool PixelDecoder::decodeRawFrame(const std::uint8_t* raw, std::size_t rawBytes, std::uint8_t* out, Error& error) const
{
    if (m_format.bitsAllocated < 8)
        return error = failure(Error::NotSupported, "packed bits need the dataset"), false;
    return convert(raw, rawBytes, m_format.planarConfiguration, m_format.photometric, out, error);
}

bool PixelDecoder::open(Error& error)
{
    if (!openFormat(error))
        return false;
    const PixelFormat& f = m_format;
    DcmElement* element = nullptr;
    if (m_dataset.findAndGetElement(DCM_PixelData, element).bad() || !element) {
        error = failure(Error::MissingValue, "the dataset has no pixel data");
        return false;
    }
    auto* pixelData = dynamic_cast<DcmPixelData*>(element);
    E_TransferSyntax xfer = m_dataset.getOriginalXfer();
    const DcmRepresentationParameter* parameter = nullptr;
    if (pixelData)
        pixelData->getOriginalRepresentationKey(xfer, parameter);
    const DcmXfer xferInfo(xfer);
    m_transferSyntax = xfer;
    m_encapsulated = xferInfo.isEncapsulated();
    m_jpeg2000 = isJpeg2000(xfer);
    // Native pixel data is kept under the little-endian key whatever the file's byte order.
    m_bigEndian = DcmXfer(m_dataset.getOriginalXfer()).getByteOrder() == EBO_BigEndian;
    // Nothing may be sized by the attributes before the data is known to hold what they declare.
    const std::optional<std::size_t> declaredSamples =
        product({std::size_t(f.rows), std::size_t(f.columns), std::size_t(f.samplesPerPixel), std::size_t(f.frames)});
    if (!declaredSamples || !product({*declaredSamples, 4})) {
        error = failure(Error::InvalidValue, "the image attributes declare more pixels than memory can hold");
        return false;
    }
    if (m_encapsulated) {
        const std::string problem = EncapsulatedFrames::problem(
            m_dataset, xfer, {f.rows, f.columns, f.samplesPerPixel, f.bitsAllocated, f.frames});
        if (!problem.empty()) {
            error = failure(Error::InvalidValue, problem);
            return false;
        }
        return true;
    }

    // Word data comes out of DCMTK in the local (little-endian) order, which puts 8-bit samples
    // of big-endian word data in their DICOM order too.
    if (element->getVR() == EVR_OW || (f.bitsAllocated > 8 && element->getVR() != EVR_OB)) {
        Uint16* words = nullptr;
        if (element->getUint16Array(words).bad() || !words) {
            error = failure(Error::MissingValue, "the pixel data is empty");
            return false;
        }
        m_native = reinterpret_cast<const std::uint8_t*>(words);
    } else {
        Uint8* bytes = nullptr;
        if (element->getUint8Array(bytes).bad() || !bytes) {
            error = failure(Error::MissingValue, "the pixel data is empty");
            return false;
        }
        m_native = bytes;
    }
    m_nativeBytes = element->getLength();
    std::size_t needed = 0;
    const std::size_t samples = *declaredSamples;
    if (f.bitsAllocated == 1)
        needed = (samples + 7) / 8;
    else if (f.photometric == "YBR_FULL_422")
        needed = samples / 3 * 2 * static_cast<std::size_t>(f.bitsAllocated / 8);
    else
        needed = samples * static_cast<std::size_t>(f.bitsAllocated / 8);
    if (m_nativeBytes < needed) {
        error = failure(Error::InvalidValue, "the pixel data is truncated: " + std::to_string(m_nativeBytes) +
                                                 " bytes for " + std::to_string(f.frames) + " frame(s) of " +
                                                 std::to_string(needed / std::size_t(f.frames)) + " bytes");
        return false;
    }
    if (m_bigEndian && f.bitsAllocated == 32) {
        m_swapped.resize(needed);
        for (std::size_t i = 0; i + 3 < needed; i += 4) {
            m_swapped[i] = m_native[i + 2];
            m_swapped[i + 1] = m_native[i + 3];
            m_swapped[i + 2] = m_native[i];
            m_swapped[i + 3] = m_native[i + 1];
        }
        m_native = m_swapped.data();
    }
    return true;
}

bool PixelDecoder::readPalette(Error& error)
{
    const DcmTagKey descriptors[3] = {DCM_RedPaletteColorLookupTableDescriptor,
                                      DCM_GreenPaletteColorLookupTableDescriptor,
                                      DCM_BluePaletteColorLookupTableDescriptor};
    const DcmTagKey tables[3] = {DCM_RedPaletteColorLookupTableData, DCM_GreenPaletteColorLookupTableData,
                                 DCM_BluePaletteColorLookupTableData};
    std::vector<std::uint16_t>* targets[3] = {&m_palette.red, &m_palette.green, &m_palette.blue};
    for (int c = 0; c < 3; ++c) {
        Uint16 count = 0, first = 0, bits = 0;
        if (m_dataset.findAndGetUint16(descriptors[c], count, 0).bad() ||
            m_dataset.findAndGetUint16(descriptors[c], first, 1).bad() ||
            m_dataset.findAndGetUint16(descriptors[c], bits, 2).bad()) {
            error = failure(Error::MissingValue, "the palette colour lookup table descriptor is missing");
            return false;
        }
        const std::size_t entries = count == 0 ? 65536 : count;
        m_palette.first = first;
        m_palette.wide = bits > 8;
        DcmElement* element = nullptr;
        if (m_dataset.findAndGetElement(tables[c], element).bad() || !element) {
            error = failure(Error::MissingValue, "the palette colour lookup table data is missing");
            return false;
        }
        Uint16* words = nullptr;
        if (element->getUint16Array(words).bad() || !words) {
            error = failure(Error::MissingValue, "the palette colour lookup table data is empty");
            return false;
        }
        const std::size_t available = element->getLength() / 2;
        std::vector<std::uint16_t>& table = *targets[c];
        if (bits <= 8 && available * 2 >= entries && available < entries) {
            // 8-bit entries packed two to a word
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(words);
            table.assign(bytes, bytes + entries);
        } else {
            table.assign(words, words + std::min(entries, available));
            if (bits <= 8)
                for (auto& v : table)
                    v = static_cast<std::uint16_t>(v & 0xff);
        }
        if (table.empty()) {
            error = failure(Error::MissingValue, "the palette colour lookup table is empty");
            return false;
        }
    }
    return true;
}

bool PixelDecoder::decodeFrame(int frame, std::uint8_t* out, Error& error)
{
    if (frame < 0 || frame >= m_format.frames) {
        error = failure(Error::InvalidValue, "frame " + std::to_string(frame) + " does not exist");
        return false;
    }
    if (!m_encapsulated)
        return decodeNative(frame, out, error);
    return m_jpeg2000 ? decodeJpeg2000(frame, out, error) : decodeWithDcmtk(frame, out, error);
}

bool PixelDecoder::decodeNative(int frame, std::uint8_t* out, Error& error)
{
    const PixelFormat& f = m_format;
    const std::size_t pixels = static_cast<std::size_t>(f.rows) * static_cast<std::size_t>(f.columns);
    if (f.bitsAllocated == 1) {
        // Bits run on from frame to frame, least significant first.
        const std::size_t start = pixels * static_cast<std::size_t>(frame);
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::size_t bit = start + i;
            out[i] = (m_native[bit / 8] >> (bit % 8)) & 1u;
        }
        return true;
    }
    std::size_t frameBytes = pixels * static_cast<std::size_t>(f.samplesPerPixel) * std::size_t(f.bitsAllocated / 8);
    if (f.photometric == "YBR_FULL_422")
        frameBytes = pixels * 2;
    return convert(m_native + frameBytes * static_cast<std::size_t>(frame), frameBytes, f.planarConfiguration,
                   f.photometric, out, error);
}

bool PixelDecoder::decodeWithDcmtk(int frame, std::uint8_t* out, Error& error)
{
    DcmElement* element = nullptr;
    m_dataset.findAndGetElement(DCM_PixelData, element);
    auto* pixelData = dynamic_cast<DcmPixelData*>(element);
    if (!pixelData) {
        error = failure(Error::MissingValue, "the dataset has no pixel data");
        return false;
    }
    Uint32 frameSize = 0;
    if (pixelData->getUncompressedFrameSize(&m_dataset, frameSize).bad() || frameSize == 0) {
        error = failure(Error::InvalidValue, "cannot determine the frame size");
        return false;
    }
    std::vector<std::uint8_t> buffer(frameSize + (frameSize & 1u));
    OFString colorModel;
    // DCMTK finds the fragments of a frame fastest when it continues from the previous frame.
    Uint32 start = frame == m_nextFrame ? m_nextFragment : 0;
    const OFCondition status =
        pixelData->getUncompressedFrame(&m_dataset, static_cast<Uint32>(frame), start, buffer.data(),
                                        static_cast<Uint32>(buffer.size()), colorModel, nullptr);
    if (status.bad()) {
        m_nextFrame = 0;
        m_nextFragment = 0;
        error = failure(Error::InvalidValue,
                        "frame " + std::to_string(frame + 1) + " does not decode: " + std::string(status.text()));
        return false;
    }
    m_nextFrame = frame + 1;
    m_nextFragment = start;
    std::string photometric = colorModel.empty() ? m_format.photometric : std::string(colorModel.c_str());
    if (m_format.photometric == "PALETTE COLOR")
        photometric = m_format.photometric;
    // Decoders hand 8-bit colour out pixel by pixel unless the dataset keeps the planes apart.
    return convert(buffer.data(), frameSize, m_format.planarConfiguration, photometric, out, error);
}

bool PixelDecoder::frameFragments(int frame, std::vector<std::uint8_t>& bytes, Error& error)
{
    DcmElement* element = nullptr;
    m_dataset.findAndGetElement(DCM_PixelData, element);
    auto* pixelData = dynamic_cast<DcmPixelData*>(element);
    DcmPixelSequence* sequence = nullptr;
    E_TransferSyntax xfer = EXS_Unknown;
    const DcmRepresentationParameter* parameter = nullptr;
    if (pixelData)
        pixelData->getOriginalRepresentationKey(xfer, parameter);
    if (!pixelData || pixelData->getEncapsulatedRepresentation(xfer, parameter, sequence).bad() || !sequence) {
        error = failure(Error::MissingValue, "the compressed pixel data is missing");
        return false;
    }
    const unsigned long items = sequence->card();
    if (items < 2) {
        error = failure(Error::MissingValue, "the compressed pixel data has no fragments");
        return false;
    }
    const unsigned long fragments = items - 1;
    auto append = [&](unsigned long index) {
        DcmPixelItem* item = nullptr;
        Uint8* data = nullptr;
        if (sequence->getItem(item, index).bad() || !item || item->getUint8Array(data).bad() || !data)
            return false;
        bytes.insert(bytes.end(), data, data + item->getLength());
        return true;
    };
    bytes.clear();
    std::vector<unsigned long> chosen;
    if (m_format.frames == 1) {
        for (unsigned long i = 1; i <= fragments; ++i)
            chosen.push_back(i);
    } else if (fragments == static_cast<unsigned long>(m_format.frames)) {
        chosen.push_back(static_cast<unsigned long>(frame) + 1);
    } else {
        // Several fragments per frame: a frame starts with the code stream's SOC marker.
        int current = -1;
        for (unsigned long i = 1; i <= fragments; ++i) {
            DcmPixelItem* item = nullptr;
            Uint8* data = nullptr;
            if (sequence->getItem(item, i).good() && item && item->getUint8Array(data).good() && data &&
                item->getLength() >= 2 && data[0] == 0xFF && data[1] == 0x4F)
                ++current;
            if (current == frame)
                chosen.push_back(i);
            else if (current > frame)
                break;
        }
    }
    if (chosen.empty()) {
        error = failure(Error::InvalidValue, "the compressed data holds no fragment for frame " +
                                                 std::to_string(frame + 1) + " of " + std::to_string(m_format.frames));
        return false;
    }
    for (unsigned long index : chosen)
        if (!append(index)) {
            error = failure(Error::InvalidValue, "a fragment of the compressed data cannot be read");
            return false;
        }
    return true;
}

bool PixelDecoder::decodeJpeg2000(int frame, std::uint8_t* out, Error& error)
{
    std::vector<std::uint8_t> bytes;
    return frameFragments(frame, bytes, error) && decodeCodeStream(frame, bytes, out, error);
}

bool PixelDecoder::codeStream(int frame, std::vector<std::uint8_t>& bytes, Error& error)
{
    if (!m_jpeg2000 || frame < 0 || frame >= m_format.frames) {
        error = failure(Error::InvalidValue, "frame " + std::to_string(frame + 1) + " holds no JPEG 2000 code stream");
        return false;
    }
    return frameFragments(frame, bytes, error);
}

bool PixelDecoder::decodeCodeStream(int frame, const std::vector<std::uint8_t>& bytes, std::uint8_t* out,
                                    Error& error) const
{
    const PixelFormat& f = m_format;
    // OpenJPEG allocates what the code stream declares: a frame must declare the image's size.
    const auto coded = EncapsulatedFrames::jpeg2000Size(bytes.data(), bytes.size());
    if (coded && (coded->columns != f.columns || coded->rows != f.rows)) {
        error = failure(Error::InvalidValue, "frame " + std::to_string(frame + 1) + " is " +
                                                 std::to_string(coded->columns) + " x " + std::to_string(coded->rows) +
                                                 " pixels, not the image's " + std::to_string(f.columns) + " x " +
                                                 std::to_string(f.rows));
        return false;
    }
    Jpeg2000Codec::Image image;
    std::string reason;
    if (!Jpeg2000Codec::decode(bytes.data(), bytes.size(), image, reason)) {
        error = failure(Error::InvalidValue, "frame " + std::to_string(frame + 1) + " does not decode: " + reason);
        return false;
    }
    if (image.width != f.columns || image.height != f.rows || image.components != f.samplesPerPixel) {
        error = failure(Error::InvalidValue, "frame " + std::to_string(frame + 1) +
                                                 " decodes to another size than the image attributes state");
        return false;
    }
    const std::size_t count = image.samples.size();
    if (m_outputChannels == 3 && f.photometric == "PALETTE COLOR") {
        std::vector<std::uint8_t> raw(count * std::size_t(f.bitsAllocated / 8));
        const int bytesPer = f.bitsAllocated / 8;
        for (std::size_t i = 0; i < count; ++i)
            for (int b = 0; b < bytesPer; ++b)
                raw[i * std::size_t(bytesPer) + std::size_t(b)] =
                    static_cast<std::uint8_t>(static_cast<std::uint32_t>(image.samples[i]) >> (8 * b));
        return convert(raw.data(), raw.size(), 0, f.photometric, out, error);
    }
    // The code stream may disagree with PixelRepresentation; the dataset's attributes win.
    const int bits = f.bitsStored;
    const std::uint32_t mask = bits >= 32 ? 0xffffffffu : ((1u << bits) - 1u);
    storeSamples(m_outputType, image.samples.data(), count, StoredBits{0, mask, bits, f.isSigned}, out);
    return true;
}

bool PixelDecoder::convert(const std::uint8_t* raw, std::size_t rawBytes, int planar, const std::string& photometric,
                           std::uint8_t* out, Error& error) const
{
    const PixelFormat& f = m_format;
    const std::size_t pixels = static_cast<std::size_t>(f.rows) * static_cast<std::size_t>(f.columns);
    const int bytes = std::max(1, f.bitsAllocated / 8);
    const std::uint32_t mask = f.bitsStored >= 32 ? 0xffffffffu : ((1u << f.bitsStored) - 1u);
    const StoredBits stored{f.highBit + 1 - f.bitsStored, mask, f.bitsStored, f.isSigned};

    if (photometric == "PALETTE COLOR") {
        if (rawBytes < pixels * std::size_t(bytes))
            return error = failure(Error::InvalidValue, "the frame is shorter than the image size"), false;
        const auto& p = m_palette;
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::int64_t index =
                std::clamp<std::int64_t>(stored(sampleAt(raw + i * std::size_t(bytes), bytes)) - p.first, 0,
                                         static_cast<std::int64_t>(p.red.size()) - 1);
            const auto k = static_cast<std::size_t>(index);
            const std::uint16_t rgb[3] = {p.red[std::min(k, p.red.size() - 1)],
                                          p.green[std::min(k, p.green.size() - 1)],
                                          p.blue[std::min(k, p.blue.size() - 1)]};
            for (int c = 0; c < 3; ++c)
                storeSample(m_outputType, out, i * 3 + std::size_t(c), rgb[c]);
        }
        return true;
    }

    if (f.samplesPerPixel == 1) {
        if (rawBytes < pixels * std::size_t(bytes))
            return error = failure(Error::InvalidValue, "the frame is shorter than the image size"), false;
        if (bytes == 2 && m_outputType == VoxelType::Int16)
            convertGrey16(raw, pixels, stored, reinterpret_cast<std::int16_t*>(out));
        else if (bytes == 2 && m_outputType == VoxelType::UInt16)
            convertGrey16(raw, pixels, stored, reinterpret_cast<std::uint16_t*>(out));
        else
            for (std::size_t i = 0; i < pixels; ++i)
                storeSample(m_outputType, out, i, stored(sampleAt(raw + i * std::size_t(bytes), bytes)));
        return true;
    }

    if (photometric == "YBR_FULL_422" && rawBytes < pixels * 3) {
        // Two luminance samples share one pair of chrominance samples.
        if (rawBytes < pixels * 2 || f.columns % 2 != 0)
            return error = failure(Error::InvalidValue, "the YBR_FULL_422 frame is shorter than the image size"), false;
        for (std::size_t i = 0; i + 1 < pixels; i += 2) {
            const std::uint8_t* q = raw + i * 2;
            ybrToRgb(out + i * 3, q[0], q[2], q[3]);
            ybrToRgb(out + (i + 1) * 3, q[1], q[2], q[3]);
        }
        return true;
    }
    if (rawBytes < pixels * 3 * std::size_t(bytes))
        return error = failure(Error::InvalidValue, "the frame is shorter than the image size"), false;
    const bool ybr = photometric == "YBR_FULL" || photometric == "YBR_FULL_422";
    for (std::size_t i = 0; i < pixels; ++i) {
        std::int64_t v[3];
        for (int c = 0; c < 3; ++c) {
            const std::size_t at = planar == 1 ? (std::size_t(c) * pixels + i) : (i * 3 + std::size_t(c));
            v[c] = stored(sampleAt(raw + at * std::size_t(bytes), bytes));
        }
        if (ybr) {
            ybrToRgb(out + i * 3, double(v[0]), double(v[1]), double(v[2]));
            continue;
        }
        for (int c = 0; c < 3; ++c)
            storeSample(m_outputType, out, i * 3 + std::size_t(c), v[c]);
    }
    return true;
}

}  // namespace Dravelin::Dicom
