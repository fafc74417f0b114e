// Pixel decoding in every transfer syntax (native, deflated, RLE, JPEG, JPEG-LS, JPEG 2000): the
// file parsed whole, opened by the decoder and its first frames decoded, the last first.
#include "fuzz/FuzzDataset.h"
#include "fuzz/FuzzSetup.h"
#include "host/dicom/io/PixelDecoder.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dravelinFuzzSetup();
    DcmFileFormat file;
    if (!dravelinFuzzParse(data, size, file))
        return 0;
    Dravelin::Dicom::PixelDecoder decoder(*file.getDataset());
    Dravelin::Dicom::Error error;
    if (!decoder.open(error))
        return 0;
    // What the data can hold but a fuzz run cannot afford; the reader's volume limit does this.
    const std::size_t frameBytes = decoder.outputFrameBytes();
    if (frameBytes == 0 || frameBytes > (std::size_t(64) << 20))
        return 0;
    std::vector<std::uint8_t> out(frameBytes);
    for (int frame = std::min(decoder.format().frames, 4) - 1; frame >= 0; --frame)
        decoder.decodeFrame(frame, out.data(), error);
    return 0;
}
