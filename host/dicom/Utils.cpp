#include "host/dicom/Utils.h"

#include "host/dicom/EncapsulatedFrames.h"
#include "host/dicom/HeaderReadAhead.h"

#include "host/core/Log.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmimage/diregist.h>
#include <dcmtk/dcmimgle/dcmimage.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

namespace Dravelin::Dicom::Utils {

namespace {

Error timeError(const std::string& message)
{
    return Error(Error::InvalidValue, Error::Warning, message);
}

bool twoDigits(const std::string& s, size_t pos, int& out)
{
    if (pos + 2 > s.size() || !std::isdigit(static_cast<unsigned char>(s[pos])) ||
        !std::isdigit(static_cast<unsigned char>(s[pos + 1])))
        return false;
    out = (s[pos] - '0') * 10 + (s[pos + 1] - '0');
    return true;
}

std::string trimPadding(const std::string& value)
{
    size_t end = value.find('\0');
    if (end == std::string::npos)
        end = value.size();
    size_t begin = 0;
    while (begin < end && std::isspace(static_cast<unsigned char>(value[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(value[end - 1])))
        --end;
    return value.substr(begin, end - begin);
}

}  // namespace

std::variant<std::int64_t, Error> parseDICOMTime(const std::string& value)
{
    const std::string s = trimPadding(value);
    if (s.empty())
        return timeError("Cannot parse Time from empty string");
    const std::string bad = "Cannot parse Time from '" + s + "'";

    // The retired ACR-NEMA form separates the components with colons.
    const bool colons = s.size() > 2 && s[2] == ':';
    int hours = 0, minutes = 0, seconds = 0;
    size_t pos = 0;
    if (!twoDigits(s, pos, hours))
        return timeError(bad);
    pos += 2;
    auto component = [&](int& out) -> bool {
        if (pos >= s.size() || s[pos] == '.')
            return true;
        if (colons) {
            if (s[pos] != ':')
                return false;
            ++pos;
        }
        if (!twoDigits(s, pos, out))
            return false;
        pos += 2;
        return true;
    };
    if (!component(minutes))
        return timeError(bad);
    if (!component(seconds))
        return timeError(bad);

    std::int64_t micro = 0;
    if (pos < s.size()) {
        // A fraction is only allowed after the seconds.
        if (s[pos] != '.' || pos < (colons ? 8u : 6u))
            return timeError(bad);
        ++pos;
        int digits = 0;
        for (; pos < s.size(); ++pos, ++digits) {
            if (!std::isdigit(static_cast<unsigned char>(s[pos])) || digits >= 6)
                return timeError(bad);
            micro = micro * 10 + (s[pos] - '0');
        }
        if (digits == 0)
            return timeError(bad);
        for (; digits < 6; ++digits)
            micro *= 10;
    }
    if (hours > 23 || minutes > 59 || seconds > 60)
        return timeError(bad);
    if (seconds == 60) {  // a leap second: keep it within the day
        seconds = 59;
        micro = 999999;
    }
    return ((static_cast<std::int64_t>(hours) * 60 + minutes) * 60 + seconds) * 1000000 + micro;
}

std::string parseDICOMSex(const std::string& value)
{
    const std::string s = trimPadding(value);
    if (s.empty())
        return "Unknown";
    if (s.size() == 1) {
        switch (std::toupper(static_cast<unsigned char>(s[0]))) {
            case 'M': return "Male";
            case 'F': return "Female";
            case 'O': return "Other";
            default: break;
        }
    }
    return s;
}

bool hasDicomHeader(const std::string& path)
{
    // Reads as much as a header parse needs first, so that a scan's parse right after this
    // check finds the bytes already read (HeaderReadAhead).
    const std::vector<char>* bytes = HeaderReadAhead::read(path);
    return bytes && isDicomHeader(bytes->data(), bytes->size());
}

bool isDicomHeader(const char* data, std::size_t size)
{
    return size >= 132 && std::memcmp(data + 128, "DICM", 4) == 0;
}

bool needsUtf8Conversion(const std::string& specificCharacterSet)
{
    std::string s = specificCharacterSet;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\\'))
        s.erase(0, 1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    if (s.find('\\') != std::string::npos)
        return true;
    return !(s.empty() || s == "ISO_IR 192" || s == "ISO_IR 6" || s == "ISO 2022 IR 6");
}

bool isDicomdirFile(const std::string& path)
{
    DcmMetaInfo meta;
    OFString sopClass;
    return meta.loadFile(path.c_str()).good() &&
           meta.findAndGetOFString(DCM_MediaStorageSOPClassUID, sopClass).good() &&
           sopClass == UID_MediaStorageDirectoryStorage;
}

namespace {

constexpr int kThumbnailSize = 256;

// Box-filter reduction: every target pixel is the mean of the source pixels it covers.
MemImage shrink(const MemImage& source, int width, int height)
{
    MemImage target;
    target.width = width;
    target.height = height;
    target.channels = source.channels;
    target.pixels.resize(static_cast<size_t>(width) * height * source.channels);
    const int c = source.channels;
    for (int ty = 0; ty < height; ++ty) {
        const int y0 = static_cast<int>(static_cast<long long>(ty) * source.height / height);
        const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<long long>(ty + 1) * source.height / height));
        for (int tx = 0; tx < width; ++tx) {
            const int x0 = static_cast<int>(static_cast<long long>(tx) * source.width / width);
            const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<long long>(tx + 1) * source.width / width));
            for (int ch = 0; ch < c; ++ch) {
                unsigned long sum = 0;
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x)
                        sum += source.pixels[(static_cast<size_t>(y) * source.width + x) * c + ch];
                const unsigned long count = static_cast<unsigned long>(y1 - y0) * (x1 - x0);
                target.pixels[(static_cast<size_t>(ty) * width + tx) * c + ch] =
                    static_cast<std::uint8_t>((sum + count / 2) / count);
            }
        }
    }
    return target;
}

std::unique_ptr<MemImage> render(DcmDataset& dataset, bool fitThumbnail, std::optional<int> frame)
{
    long frames = 1;
    {
        Sint32 value = 0;
        if (dataset.findAndGetSint32(DCM_NumberOfFrames, value).good() && value > 1)
            frames = value;
    }
    const long index = frame.value_or(0);
    if (index < 0 || index >= frames) {
        Log::log(
            2, "DICOM",
            "Cannot render frame " + std::to_string(index) + " of an image with " + std::to_string(frames) + " frames",
            __FILE__, __LINE__);
        return nullptr;
    }
    if (!dataset.tagExists(DCM_PixelData)) {
        Log::log(2, "DICOM", "Cannot render a preview: the dataset has no pixel data", __FILE__, __LINE__);
        return nullptr;
    }
    E_TransferSyntax xfer = dataset.getCurrentXfer();
    if (xfer == EXS_Unknown)
        xfer = dataset.getOriginalXfer();
    {
        Uint16 rows = 0, columns = 0, samples = 1, bitsAllocated = 8;
        dataset.findAndGetUint16(DCM_Rows, rows);
        dataset.findAndGetUint16(DCM_Columns, columns);
        dataset.findAndGetUint16(DCM_SamplesPerPixel, samples);
        dataset.findAndGetUint16(DCM_BitsAllocated, bitsAllocated);
        const std::string problem =
            EncapsulatedFrames::problem(dataset, xfer, {rows, columns, samples, bitsAllocated, frames});
        if (!problem.empty()) {
            Log::log(2, "DICOM", "Cannot render a preview: " + problem, __FILE__, __LINE__);
            return nullptr;
        }
    }

    DicomImage image(&dataset, xfer, CIF_UsePartialAccessToPixelData, static_cast<unsigned long>(index), 1);
    if (image.getStatus() != EIS_Normal) {
        Log::log(2, "DICOM",
                 std::string("Cannot render a preview: ") + DicomImage::getString(image.getStatus()) + " (" +
                     DcmXfer(xfer).getXferName() + ")",
                 __FILE__, __LINE__);
        return nullptr;
    }
    const bool mono = image.isMonochrome() != 0;
    if (mono) {
        if (image.getWindowCount() > 0)
            image.setWindow(0);
        else if (image.getVoiLutCount() > 0)
            image.setVoiLut(0);
        else
            image.setMinMaxWindow(0);
    }
    const int width = static_cast<int>(image.getWidth());
    const int height = static_cast<int>(image.getHeight());
    const void* data = image.getOutputData(8, 0, 0);
    const int channels = mono ? 1 : 3;
    const size_t bytes = static_cast<size_t>(width) * height * channels;
    if (!data || width <= 0 || height <= 0 || image.getOutputDataSize(8) < bytes) {
        Log::log(2, "DICOM", "Cannot render a preview: DCMTK produced no output", __FILE__, __LINE__);
        return nullptr;
    }
    auto result = std::make_unique<MemImage>();
    result->width = width;
    result->height = height;
    result->channels = channels;
    const auto* begin = static_cast<const std::uint8_t*>(data);
    result->pixels.assign(begin, begin + bytes);

    if (fitThumbnail && std::max(width, height) > kThumbnailSize) {
        const double scale = static_cast<double>(kThumbnailSize) / std::max(width, height);
        const int w = std::max(1, static_cast<int>(width * scale + 0.5));
        const int h = std::max(1, static_cast<int>(height * scale + 0.5));
        *result = shrink(*result, w, h);
    }
    return result;
}

}  // namespace

bool isBinaryVR(DcmEVR vr)
{
    switch (vr) {
        case EVR_OB:
        case EVR_OW:
        case EVR_OF:
        case EVR_OD:
        case EVR_OL:
        case EVR_OV:
        case EVR_UN:
        case EVR_ox:
        case EVR_px: return true;
        default: return false;
    }
}

std::unique_ptr<MemImage> generatePreview(DcmDataset& dataset, bool fitThumbnail, std::optional<int> frame)
{
    registerCodecs();
    try {
        return render(dataset, fitThumbnail, frame);
    } catch (const std::exception& e) {
        Log::log(3, "DICOM", std::string("Cannot render a preview: ") + e.what(), __FILE__, __LINE__);
    }
    return nullptr;
}

void silenceDcmtkLogging()
{
    static std::once_flag once;
    std::call_once(once, [] { OFLog::configure(OFLogger::FATAL_LOG_LEVEL); });
}

void registerCodecs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        silenceDcmtkLogging();
        DJDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
        DcmRLEDecoderRegistration::registerCodecs();
    });
}

}  // namespace Dravelin::Dicom::Utils
