#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class DcmDataset;

namespace Dravelin::Dicom {

// Checks encapsulated (compressed) pixel data against the image attributes before a decoder
// sizes anything by them: decoders allocate what Rows, Columns and Number of Frames declare, and
// DCMTK's RLE decoder reads wherever the segment offsets point. What the fragments and the
// codec's own headers say must agree with the attributes:
// - every frame needs a fragment of its own;
// - RLE: one fragment per frame (or one frame in several), a header with one segment per sample
//   byte, offsets inside the frame in ascending order, and segments long enough for a plane
//   (a two-byte run gives at most 128 bytes);
// - JPEG, JPEG-LS and JPEG 2000: the first frame's header gives the image's columns, rows and
//   components.
class EncapsulatedFrames
{
public:
    struct Image
    {
        long long rows = 0;
        long long columns = 0;
        int samplesPerPixel = 1;
        int bitsAllocated = 8;
        long long frames = 1;
    };
    struct CodedSize
    {
        long long columns = 0;
        long long rows = 0;  // 0 when a JPEG stream defines its height later (DNL)
        int components = 0;
    };

    // Empty when the pixel data of `dataset`, encoded in transfer syntax `xfer` (an
    // E_TransferSyntax), can hold `image`; else why not, as a phrase for a message. Native data
    // is not looked at.
    static std::string problem(DcmDataset& dataset, int xfer, const Image& image);

    // The problem of one RLE frame of `length` bytes (its header in the first bytes).
    static std::string rleFrameProblem(const std::uint8_t* data, std::size_t length, const Image& image);

    // The size a JPEG or JPEG-LS stream's start-of-frame header declares.
    static std::optional<CodedSize> jpegSize(const std::uint8_t* data, std::size_t length);
    // The size a JPEG 2000 code stream's SIZ marker declares (raw code stream or JP2 file).
    static std::optional<CodedSize> jpeg2000Size(const std::uint8_t* data, std::size_t length);
};

}  // namespace Dravelin::Dicom
