#include "host/dicom/deid/PixelCleaner.h"

#include "host/dicom/Utils.h"
#include "host/dicom/io/DicomWriter.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcrleerg.h>

#include <algorithm>
#include <limits>
#include <mutex>

namespace Dravelin::Dicom {

namespace {

struct Layout
{
    long rows = 0;
    long columns = 0;
    long frames = 1;
    int samples = 1;
    int bits = 8;
    bool planar = false;
    bool isSigned = false;
    std::string photometric;
};

bool readLayout(DcmDataset& dataset, Layout& layout, std::string* error)
{
    Uint16 rows = 0, columns = 0, samples = 1, bits = 0, planar = 0, representation = 0;
    OFString photometric, frames;
    dataset.findAndGetUint16(DCM_Rows, rows);
    dataset.findAndGetUint16(DCM_Columns, columns);
    dataset.findAndGetUint16(DCM_SamplesPerPixel, samples);
    dataset.findAndGetUint16(DCM_BitsAllocated, bits);
    dataset.findAndGetUint16(DCM_PlanarConfiguration, planar);
    dataset.findAndGetUint16(DCM_PixelRepresentation, representation);
    dataset.findAndGetOFString(DCM_PhotometricInterpretation, photometric);
    dataset.findAndGetOFString(DCM_NumberOfFrames, frames);
    layout.rows = rows;
    layout.columns = columns;
    layout.frames = std::max(1L, std::atol(frames.c_str()));
    layout.samples = samples;
    layout.bits = bits;
    layout.planar = planar == 1;
    layout.isSigned = representation == 1;
    layout.photometric = photometric.c_str();
    const char* problem = nullptr;
    if (rows == 0 || columns == 0)
        problem = "the image has no rows or columns";
    else if (bits != 8 && bits != 16)
        problem = "only 8- and 16-bit samples are cleaned";
    else if (samples == 1 && layout.photometric != "MONOCHROME1" && layout.photometric != "MONOCHROME2")
        problem = "only monochrome, RGB and YBR_FULL images are cleaned";
    else if (samples == 3 && layout.photometric != "RGB" && layout.photometric != "YBR_FULL")
        problem = "only monochrome, RGB and YBR_FULL images are cleaned";
    else if (samples != 1 && samples != 3)
        problem = "only images of one or three samples per pixel are cleaned";
    if (problem && error)
        *error = problem;
    return !problem;
}

template <typename T>
void fill(std::vector<T>& values, const Layout& layout, const std::vector<PixelCleaner::Region>& regions,
          const std::vector<T>& darkest)
{
    const QRect image(0, 0, static_cast<int>(layout.columns), static_cast<int>(layout.rows));
    const size_t frameSize = static_cast<size_t>(layout.rows) * layout.columns * layout.samples;
    for (const PixelCleaner::Region& region : regions) {
        const QRect rect = region.rect.intersected(image);
        if (rect.isEmpty() || region.frame >= layout.frames)
            continue;
        const long first = region.frame < 0 ? 0 : region.frame;
        const long last = region.frame < 0 ? layout.frames - 1 : region.frame;
        for (long f = first; f <= last; ++f) {
            const size_t base = f * frameSize;
            for (int s = 0; s < layout.samples; ++s)
                for (int y = rect.top(); y <= rect.bottom(); ++y)
                    for (int x = rect.left(); x <= rect.right(); ++x) {
                        const size_t at =
                            layout.planar ? base + (static_cast<size_t>(s) * layout.rows + y) * layout.columns + x
                                          : base + (static_cast<size_t>(y) * layout.columns + x) * layout.samples + s;
                        values[at] = darkest[s];
                    }
        }
    }
}

// The darkest value of each sample.
template <typename T>
std::vector<T> darkestOf(const std::vector<T>& values, const Layout& layout)
{
    if (layout.samples == 3) {
        const T middle = static_cast<T>(1u << (layout.bits - 1));
        return layout.photometric == "RGB" ? std::vector<T>{0, 0, 0} : std::vector<T>{0, middle, middle};
    }
    using Signed = std::conditional_t<sizeof(T) == 1, int8_t, int16_t>;
    const auto key = [&](T v) {
        return layout.isSigned ? static_cast<int>(static_cast<Signed>(v)) : static_cast<int>(v);
    };
    const auto [low, high] =
        std::minmax_element(values.begin(), values.end(), [&](T a, T b) { return key(a) < key(b); });
    if (low == values.end())
        return {0};
    return {layout.photometric == "MONOCHROME1" ? *high : *low};
}

template <typename T>
bool cleanValues(DcmPixelData& pixels, const T* data, unsigned long count, const Layout& layout,
                 const std::vector<PixelCleaner::Region>& regions, std::string* error)
{
    const size_t needed = static_cast<size_t>(layout.rows) * layout.columns * layout.samples * layout.frames;
    if (!data || count < needed) {
        if (error)
            *error = "the pixel data is shorter than its rows, columns and frames";
        return false;
    }
    std::vector<T> values(data, data + count);
    fill(values, layout, regions, darkestOf(values, layout));
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
    if (source.getXfer() == EXS_JPEG2000 || source.getXfer() == EXS_JPEG2000LosslessOnly ||
        source.getXfer() == EXS_JPEG2000MulticomponentLosslessOnly || source.getXfer() == EXS_JPEG2000Multicomponent) {
        if (error)
            *error = "JPEG 2000 pixel data is not cleaned";
        return false;
    }
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
    Layout layout;
    if (!readLayout(dataset, layout, error))
        return false;
    DcmPixelData* pixels = pixelDataOf(dataset);
    if (!pixels) {
        if (error)
            *error = "no pixel data";
        return false;
    }
    if (layout.bits == 8) {
        Uint8* data = nullptr;
        pixels->getUint8Array(data);
        return cleanValues<Uint8>(*pixels, data, pixels->getLength(), layout, regions, error);
    }
    Uint16* data = nullptr;
    pixels->getUint16Array(data);
    return cleanValues<Uint16>(*pixels, data, pixels->getLength() / 2, layout, regions, error);
}

E_TransferSyntax PixelCleaner::writeSyntax(DcmDataset& dataset, E_TransferSyntax source, std::string* note)
{
    const DcmXfer xfer(source);
    if (!xfer.isEncapsulated())
        return EXS_Unknown;
    if (xfer.isLossless()) {
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
