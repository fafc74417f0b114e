#include "host/dicom/io/Jpeg2000Codec.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace Dravelin::Dicom {

namespace {

struct MemoryReader
{
    const std::uint8_t* data;
    std::size_t size;
    std::size_t offset;
};

OPJ_SIZE_T readMemory(void* buffer, OPJ_SIZE_T bytes, void* user)
{
    auto* r = static_cast<MemoryReader*>(user);
    if (r->offset >= r->size)
        return static_cast<OPJ_SIZE_T>(-1);
    const std::size_t n = std::min<std::size_t>(bytes, r->size - r->offset);
    std::memcpy(buffer, r->data + r->offset, n);
    r->offset += n;
    return n;
}

OPJ_OFF_T skipMemory(OPJ_OFF_T bytes, void* user)
{
    auto* r = static_cast<MemoryReader*>(user);
    const auto target =
        std::clamp<OPJ_OFF_T>(static_cast<OPJ_OFF_T>(r->offset) + bytes, 0, static_cast<OPJ_OFF_T>(r->size));
    const OPJ_OFF_T moved = target - static_cast<OPJ_OFF_T>(r->offset);
    r->offset = static_cast<std::size_t>(target);
    return moved;
}

OPJ_BOOL seekMemory(OPJ_OFF_T position, void* user)
{
    auto* r = static_cast<MemoryReader*>(user);
    if (position < 0 || static_cast<std::size_t>(position) > r->size)
        return OPJ_FALSE;
    r->offset = static_cast<std::size_t>(position);
    return OPJ_TRUE;
}

OPJ_SIZE_T writeMemory(void* buffer, OPJ_SIZE_T bytes, void* user)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(user);
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    out->insert(out->end(), p, p + bytes);
    return bytes;
}

OPJ_OFF_T skipWrite(OPJ_OFF_T bytes, void* user)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(user);
    out->resize(out->size() + static_cast<std::size_t>(bytes), 0);
    return bytes;
}

OPJ_BOOL seekWrite(OPJ_OFF_T, void*)
{
    return OPJ_FALSE;  // the code stream is written in one pass
}

void quiet(const char*, void*) {}

void messageHandler(const char* text, void* user)
{
    auto* error = static_cast<std::string*>(user);
    if (error->empty())
        *error = text;
    while (!error->empty() && (error->back() == '\n' || error->back() == ' '))
        error->pop_back();
}

struct CodecDeleter
{
    void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter
{
    void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter
{
    void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

}  // namespace

bool Jpeg2000Codec::decode(const std::uint8_t* data, std::size_t size, Image& image, std::string& error)
{
    static const std::uint8_t jp2Signature[] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20};
    const bool jp2 = size >= sizeof(jp2Signature) && std::memcmp(data, jp2Signature, sizeof(jp2Signature)) == 0;
    std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    std::string message;
    opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_error_handler(codec.get(), messageHandler, &message);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) {
        error = "cannot set up the JPEG 2000 decoder";
        return false;
    }
    MemoryReader reader{data, size, 0};
    std::unique_ptr<opj_stream_t, StreamDeleter> stream(opj_stream_default_create(OPJ_TRUE));
    opj_stream_set_user_data(stream.get(), &reader, nullptr);
    opj_stream_set_user_data_length(stream.get(), size);
    opj_stream_set_read_function(stream.get(), readMemory);
    opj_stream_set_skip_function(stream.get(), skipMemory);
    opj_stream_set_seek_function(stream.get(), seekMemory);

    opj_image_t* raw = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &raw)) {
        error = "invalid JPEG 2000 header" + (message.empty() ? std::string() : ": " + message);
        return false;
    }
    std::unique_ptr<opj_image_t, ImageDeleter> decoded(raw);
    if (!opj_decode(codec.get(), stream.get(), raw) || !opj_end_decompress(codec.get(), stream.get())) {
        error = "the JPEG 2000 data does not decode" + (message.empty() ? std::string() : ": " + message);
        return false;
    }
    if (raw->numcomps == 0 || !raw->comps[0].data) {
        error = "the JPEG 2000 data holds no image";
        return false;
    }
    const opj_image_comp_t& first = raw->comps[0];
    image.width = static_cast<int>(first.w);
    image.height = static_cast<int>(first.h);
    image.components = static_cast<int>(raw->numcomps);
    image.precision = static_cast<int>(first.prec);
    image.isSigned = first.sgnd != 0;
    for (OPJ_UINT32 c = 1; c < raw->numcomps; ++c) {
        if (raw->comps[c].w != first.w || raw->comps[c].h != first.h || !raw->comps[c].data) {
            error = "subsampled JPEG 2000 components are not supported";
            return false;
        }
    }
    const std::size_t pixels = static_cast<std::size_t>(first.w) * first.h;
    if (raw->numcomps == 1) {
        image.samples.assign(first.data, first.data + pixels);
        return true;
    }
    image.samples.resize(pixels * raw->numcomps);
    for (OPJ_UINT32 c = 0; c < raw->numcomps; ++c) {
        const OPJ_INT32* src = raw->comps[c].data;
        for (std::size_t i = 0; i < pixels; ++i)
            image.samples[i * raw->numcomps + c] = src[i];
    }
    return true;
}

bool Jpeg2000Codec::encode(const Image& image, double compressionRatio, std::vector<std::uint8_t>& codestream,
                           std::string& error)
{
    const int n = image.components;
    if (n != 1 && n != 3) {
        error = "JPEG 2000 encoding needs one or three components";
        return false;
    }
    std::vector<opj_image_cmptparm_t> components(static_cast<std::size_t>(n));
    for (auto& c : components) {
        std::memset(&c, 0, sizeof(c));
        c.dx = c.dy = 1;
        c.w = static_cast<OPJ_UINT32>(image.width);
        c.h = static_cast<OPJ_UINT32>(image.height);
        c.prec = static_cast<OPJ_UINT32>(image.precision);
        c.sgnd = image.isSigned ? 1 : 0;
    }
    std::unique_ptr<opj_image_t, ImageDeleter> raw(
        opj_image_create(static_cast<OPJ_UINT32>(n), components.data(), n == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY));
    if (!raw) {
        error = "cannot create the JPEG 2000 image";
        return false;
    }
    raw->x1 = static_cast<OPJ_UINT32>(image.width);
    raw->y1 = static_cast<OPJ_UINT32>(image.height);
    const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    for (int c = 0; c < n; ++c) {
        OPJ_INT32* dst = raw->comps[c].data;
        for (std::size_t i = 0; i < pixels; ++i)
            dst[i] = image.samples[i * static_cast<std::size_t>(n) + static_cast<std::size_t>(c)];
    }

    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.cp_disto_alloc = 1;
    parameters.tcp_rates[0] = compressionRatio > 0 ? static_cast<float>(compressionRatio) : 0.0f;
    parameters.irreversible = compressionRatio > 0 ? 1 : 0;
    parameters.tcp_mct = n == 3 ? 1 : 0;
    // Small images cannot take the default five decomposition levels.
    int levels = 5;
    while (levels > 0 && ((image.width >> levels) < 1 || (image.height >> levels) < 1))
        --levels;
    parameters.numresolution = levels + 1;

    std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_compress(OPJ_CODEC_J2K));
    std::string message;
    opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_error_handler(codec.get(), messageHandler, &message);
    if (!opj_setup_encoder(codec.get(), &parameters, raw.get())) {
        error = "cannot set up the JPEG 2000 encoder: " + message;
        return false;
    }
    codestream.clear();
    std::unique_ptr<opj_stream_t, StreamDeleter> stream(opj_stream_default_create(OPJ_FALSE));
    opj_stream_set_user_data(stream.get(), &codestream, nullptr);
    opj_stream_set_write_function(stream.get(), writeMemory);
    opj_stream_set_skip_function(stream.get(), skipWrite);
    opj_stream_set_seek_function(stream.get(), seekWrite);
    if (!opj_start_compress(codec.get(), raw.get(), stream.get()) || !opj_encode(codec.get(), stream.get()) ||
        !opj_end_compress(codec.get(), stream.get())) {
        error = "JPEG 2000 encoding failed: " + message;
        return false;
    }
    return true;
}

}  // namespace Dravelin::Dicom
