#pragma once

#include "host/dicom/Error.h"
#include "host/dicom/io/PixelVolume.h"

#include <cstdint>
#include <string>
#include <vector>

class DcmDataset;
class DcmPixelSequence;

namespace Dravelin::Dicom {

// What the image pixel attributes of a dataset say about its pixel data.
struct PixelFormat
{
    int rows = 0;
    int columns = 0;
    int samplesPerPixel = 1;
    int bitsAllocated = 0;
    int bitsStored = 0;
    int highBit = 0;
    bool isSigned = false;
    int planarConfiguration = 0;
    int frames = 1;
    std::string photometric;
};

// Decodes the frames of one dataset, whatever its transfer syntax (native little or big endian,
// deflated, RLE, JPEG, JPEG-LS, JPEG 2000), into samples of the decoded type: grey values keep
// their stored integer type (masked to the stored bits and sign-extended), colour becomes
// interleaved RGB (YBR converted, palette indices looked up).
//
// The dataset must stay alive and must not be read by another thread while decoding.
class PixelDecoder
{
public:
    explicit PixelDecoder(DcmDataset& dataset);
    ~PixelDecoder();
    PixelDecoder(const PixelDecoder&) = delete;
    PixelDecoder& operator=(const PixelDecoder&) = delete;

    // Reads the pixel attributes and checks that the pixel data can be decoded (enough native
    // data, a known codec). False with `error` set otherwise.
    bool open(Error& error);
    // Reads the pixel attributes only (the dataset may lack its pixel data), for decodeRawFrame.
    bool openFormat(Error& error);
    // Converts one native little-endian frame read elsewhere (8 bits or more per sample).
    bool decodeRawFrame(const std::uint8_t* raw, std::size_t rawBytes, std::uint8_t* out, Error& error) const;

    const PixelFormat& format() const { return m_format; }
    VoxelType outputType() const { return m_outputType; }
    int outputChannels() const { return m_outputChannels; }
    std::size_t outputFrameBytes() const;

    // Frames may be decoded in any order; out receives outputFrameBytes().
    bool decodeFrame(int frame, std::uint8_t* out, Error& error);

    // JPEG 2000 frames in two steps, so that several decode side by side: the code stream of a
    // frame copied out of the dataset (by one thread at a time), then decoded without reading
    // the dataset (from any thread).
    bool holdsJpeg2000() const { return m_jpeg2000; }
    bool codeStream(int frame, std::vector<std::uint8_t>& bytes, Error& error);
    bool decodeCodeStream(int frame, const std::vector<std::uint8_t>& bytes, std::uint8_t* out, Error& error) const;

    // Every codec this decoder may need; called by the constructor, safe to call repeatedly.
    static void registerCodecs();

private:
    bool decodeNative(int frame, std::uint8_t* out, Error& error);
    bool decodeWithDcmtk(int frame, std::uint8_t* out, Error& error);
    bool decodeJpeg2000(int frame, std::uint8_t* out, Error& error);
    bool frameFragments(int frame, std::vector<std::uint8_t>& bytes, Error& error);
    bool convert(const std::uint8_t* raw, std::size_t rawBytes, int planar, const std::string& photometric,
                 std::uint8_t* out, Error& error) const;
    bool readPalette(Error& error);

    DcmDataset& m_dataset;
    PixelFormat m_format;
    VoxelType m_outputType = VoxelType::UInt8;
    int m_outputChannels = 1;
    int m_transferSyntax = 0;  // E_TransferSyntax
    bool m_encapsulated = false;
    bool m_jpeg2000 = false;
    bool m_bigEndian = false;
    const std::uint8_t* m_native = nullptr;  // native pixel data, little-endian samples
    std::size_t m_nativeBytes = 0;
    std::vector<std::uint8_t> m_swapped;  // 32-bit big-endian data with its word halves put right
    std::uint32_t m_nextFragment = 0;     // where DCMTK's frame search continues
    int m_nextFrame = 0;
    struct Palette
    {
        int first = 0;
        std::vector<std::uint16_t> red, green, blue;
        bool wide = false;  // 16-bit entries
    };
    Palette m_palette;
};

}  // namespace Dravelin::Dicom
