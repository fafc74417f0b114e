#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Dravelin::Dicom {

// JPEG 2000 code streams to and from samples, through OpenJPEG (DCMTK has no such codec).
class Jpeg2000Codec
{
public:
    struct Image
    {
        int width = 0;
        int height = 0;
        int components = 0;
        int precision = 0;      // bits per sample
        bool isSigned = false;  // as the code stream declares it
        // Component-interleaved samples; the colour transform of the stream is already undone.
        std::vector<std::int32_t> samples;
    };

    // Accepts a raw code stream or a JP2 file. False with `error` set when it does not decode.
    static bool decode(const std::uint8_t* data, std::size_t size, Image& image, std::string& error);

    // samples: width * height * components interleaved values of `precision` bits.
    // compressionRatio 0 is reversible (lossless); otherwise the irreversible transform is used
    // with that target ratio. A colour transform is applied to three components.
    static bool encode(const Image& image, double compressionRatio, std::vector<std::uint8_t>& codestream,
                       std::string& error);
};

}  // namespace Dravelin::Dicom
