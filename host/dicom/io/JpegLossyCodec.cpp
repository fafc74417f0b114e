#include "host/dicom/io/JpegLossyCodec.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmjpeg/djcparam.h>
#include <dcmtk/dcmjpeg/djdijg12.h>
#include <dcmtk/dcmjpeg/djdijg8.h>
#include <dcmtk/dcmjpeg/djeijg12.h>
#include <dcmtk/dcmjpeg/djeijg8.h>

#include <memory>

namespace Dravelin::Dicom {

namespace {

const DJCodecParameter& parameters()
{
    static const DJCodecParameter parameter(ECC_lossyYCbCr, EDC_never, EUC_never, EPC_default);
    return parameter;
}

}  // namespace

bool JpegLossyCodec::encode(const Frame& frame, const std::uint8_t* samples, int quality,
                            std::vector<std::uint8_t>& codestream, std::string& error)
{
    if (frame.width < 1 || frame.height < 1 || frame.width > 65535 || frame.height > 65535 ||
        (frame.precision != 8 && frame.precision != 12)) {
        error = "lossy JPEG holds 8 or 12 bits per sample";
        return false;
    }
    const auto q = static_cast<Uint8>(quality < 1 ? 1 : quality > 100 ? 100 : quality);
    Uint8* out = nullptr;
    Uint32 length = 0;
    OFCondition status;
    const auto width = static_cast<Uint16>(frame.width);
    const auto height = static_cast<Uint16>(frame.height);
    if (frame.precision == 8) {
        DJCompressIJG8Bit encoder(parameters(), EJM_baseline, q);
        status = encoder.encode(width, height, EPI_Monochrome2, 1, const_cast<Uint8*>(samples), out, length);
    } else {
        DJCompressIJG12Bit encoder(parameters(), EJM_sequential, q);
        // The encoder only reads the samples.
        auto* words = reinterpret_cast<Uint16*>(const_cast<std::uint8_t*>(samples));
        status = encoder.encode(width, height, EPI_Monochrome2, 1, words, out, length);
    }
    const std::unique_ptr<Uint8[]> owned(out);
    if (status.bad() || !out) {
        error = std::string("the JPEG encoder failed: ") + status.text();
        return false;
    }
    codestream.assign(out, out + length);
    return true;
}

bool JpegLossyCodec::decode(const Frame& frame, const std::vector<std::uint8_t>& codestream, std::uint8_t* samples,
                            std::string& error)
{
    const Uint32 bytes =
        static_cast<Uint32>(frame.width) * static_cast<Uint32>(frame.height) * (frame.precision == 8 ? 1u : 2u);
    std::unique_ptr<DJDecoder> decoder;
    if (frame.precision == 8)
        decoder = std::make_unique<DJDecompressIJG8Bit>(parameters(), OFFalse);
    else
        decoder = std::make_unique<DJDecompressIJG12Bit>(parameters(), OFFalse);
    OFCondition status = decoder->init();
    if (status.good())
        status = decoder->decode(const_cast<Uint8*>(codestream.data()), static_cast<Uint32>(codestream.size()), samples,
                                 bytes, OFFalse);
    if (status.bad()) {
        error = std::string("the JPEG decoder failed: ") + status.text();
        return false;
    }
    return true;
}

}  // namespace Dravelin::Dicom
