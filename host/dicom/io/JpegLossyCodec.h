#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Dravelin::Dicom {

// Lossy JPEG code streams of single grey frames (baseline 8-bit, extended 12-bit), through
// DCMTK's IJG codecs but without DCMTK's rendering of the image: the stored samples are coded as
// they are, so the dataset's rescale stays valid for every modality.
class JpegLossyCodec
{
public:
    struct Frame
    {
        int width = 0;
        int height = 0;
        int precision = 8;  // 8 (one byte per sample) or 12 (two bytes, little-endian)
    };

    static bool encode(const Frame& frame, const std::uint8_t* samples, int quality,
                       std::vector<std::uint8_t>& codestream, std::string& error);
    // samples receives width * height samples of the frame's precision.
    static bool decode(const Frame& frame, const std::vector<std::uint8_t>& codestream, std::uint8_t* samples,
                       std::string& error);
};

}  // namespace Dravelin::Dicom
