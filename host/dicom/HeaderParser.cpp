#include "host/dicom/HeaderParser.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcpcache.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <cstring>
#include <string_view>

namespace Dravelin::Dicom {

namespace {

constexpr Uint32 kUndefinedLength = 0xFFFFFFFFu;
// Same limit as the dataset cache: every value is read into memory.
constexpr Uint32 kNoReadLimit = 0xFFFFFFFEu;
constexpr size_t kPreambleAndMagic = 132;
constexpr std::string_view kExplicitLittleEndian = "1.2.840.10008.1.2.1";

// DcmItem reads one element's value (and registers it) in a protected member; the element
// header in front of it is what this parser decodes itself.
class ItemAccess : public DcmItem
{
public:
    static OFCondition readValue(DcmItem& item, DcmInputStream& stream, DcmTag& tag, Uint32 length)
    {
        using Reader = OFCondition (DcmItem::*)(DcmInputStream&, DcmTag&, const Uint32, const E_TransferSyntax,
                                                const E_GrpLenEncoding, const Uint32);
        const Reader reader = &ItemAccess::readSubElement;
        return (item.*reader)(stream, tag, length, EXS_LittleEndianExplicit, EGL_noChange, kNoReadLimit);
    }
};

Uint16 readUint16(const unsigned char* p)
{
    return static_cast<Uint16>(p[0] | (p[1] << 8));
}

Uint32 readUint32(const unsigned char* p)
{
    return Uint32(p[0]) | Uint32(p[1]) << 8 | Uint32(p[2]) << 16 | Uint32(p[3]) << 24;
}

// The standard VRs this parser accepts (UN is left to DCMTK). DCMTK's own lookup by name
// compares strings against its whole table, once per element.
DcmEVR standardVr(unsigned char a, unsigned char b)
{
    struct Entry
    {
        char name[3];
        DcmEVR vr;
    };
    static constexpr Entry kEntries[] = {
        {"AE", EVR_AE}, {"AS", EVR_AS}, {"AT", EVR_AT}, {"CS", EVR_CS}, {"DA", EVR_DA}, {"DS", EVR_DS}, {"DT", EVR_DT},
        {"FD", EVR_FD}, {"FL", EVR_FL}, {"IS", EVR_IS}, {"LO", EVR_LO}, {"LT", EVR_LT}, {"OB", EVR_OB}, {"OD", EVR_OD},
        {"OF", EVR_OF}, {"OL", EVR_OL}, {"OV", EVR_OV}, {"OW", EVR_OW}, {"PN", EVR_PN}, {"SH", EVR_SH}, {"SL", EVR_SL},
        {"SQ", EVR_SQ}, {"SS", EVR_SS}, {"ST", EVR_ST}, {"SV", EVR_SV}, {"TM", EVR_TM}, {"UC", EVR_UC}, {"UI", EVR_UI},
        {"UL", EVR_UL}, {"UR", EVR_UR}, {"US", EVR_US}, {"UT", EVR_UT}, {"UV", EVR_UV},
    };
    for (const Entry& entry : kEntries)
        if (static_cast<unsigned char>(entry.name[0]) == a && static_cast<unsigned char>(entry.name[1]) == b)
            return entry.vr;
    return EVR_UNKNOWN;
}

struct ElementHeader
{
    DcmTagKey key;
    DcmVR vr;
    Uint32 length = 0;
    size_t size = 0;  // bytes of the header itself
};

enum class HeaderStatus { Ok, Short, Unsupported };

// An explicit VR little endian element header at `pos`.
HeaderStatus readHeader(const unsigned char* data, size_t size, size_t pos, ElementHeader& header)
{
    if (size - pos < 8)
        return HeaderStatus::Short;
    const unsigned char* p = data + pos;
    header.key.set(readUint16(p), readUint16(p + 2));
    if (header.key.getGroup() == 0xFFFE)
        return HeaderStatus::Unsupported;
    const DcmEVR evr = standardVr(p[4], p[5]);
    if (evr == EVR_UNKNOWN)
        return HeaderStatus::Unsupported;
    header.vr.setVR(evr);
    if (header.vr.usesExtendedLengthEncoding()) {
        if (size - pos < 12)
            return HeaderStatus::Short;
        header.length = readUint32(p + 8);
        header.size = 12;
    } else {
        header.length = readUint16(p + 6);
        header.size = 8;
    }
    if (header.length == kUndefinedLength && evr != EVR_SQ)
        return HeaderStatus::Unsupported;
    return HeaderStatus::Ok;
}

std::string_view trimmedUid(const unsigned char* p, size_t length)
{
    std::string_view s(reinterpret_cast<const char*>(p), length);
    while (!s.empty() && (s.back() == '\0' || s.back() == ' '))
        s.remove_suffix(1);
    return s;
}

// Walks the file meta group; true when it is well formed and declares explicit VR little
// endian. `pos` ends on the first element of the data set.
HeaderParser::Result readMetaGroup(const unsigned char* data, size_t size, bool wholeFile, size_t& pos)
{
    const HeaderParser::Result shortResult =
        wholeFile ? HeaderParser::Result::Unsupported : HeaderParser::Result::NeedsMoreData;
    bool explicitLittle = false;
    size_t declaredEnd = 0;
    int count = 0;
    for (;;) {
        if (size - pos < 4)
            return shortResult;
        if (readUint16(data + pos) != 0x0002)
            break;
        ElementHeader header;
        const HeaderStatus status = readHeader(data, size, pos, header);
        if (status == HeaderStatus::Short)
            return shortResult;
        if (status != HeaderStatus::Ok || header.length == kUndefinedLength)
            return HeaderParser::Result::Unsupported;
        if (header.length > size - pos - header.size)
            return shortResult;
        const unsigned char* value = data + pos + header.size;
        if (header.key == DCM_FileMetaInformationGroupLength && count == 0 && header.length == 4)
            declaredEnd = pos + header.size + 4 + readUint32(value);
        else if (header.key == DCM_TransferSyntaxUID)
            explicitLittle = trimmedUid(value, header.length) == kExplicitLittleEndian;
        pos += header.size + header.length;
        ++count;
    }
    if (count == 0 || !explicitLittle || (declaredEnd != 0 && declaredEnd != pos))
        return HeaderParser::Result::Unsupported;
    return HeaderParser::Result::Parsed;
}

bool isPrivateCreator(const DcmTagKey& key)
{
    return (key.getGroup() & 1) != 0 && key.getElement() >= 0x0010 && key.getElement() <= 0x00FF;
}

}  // namespace

HeaderParser::Result HeaderParser::parse(const char* bytes, size_t size, bool wholeFile, DcmDataset& dataset)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes);
    if (size < kPreambleAndMagic)
        return wholeFile ? Result::Unsupported : Result::NeedsMoreData;
    if (std::memcmp(data + 128, "DICM", 4) != 0)
        return Result::Unsupported;
    size_t pos = kPreambleAndMagic;
    const Result meta = readMetaGroup(data, size, wholeFile, pos);
    if (meta != Result::Parsed)
        return meta;

    DcmInputBufferStream stream;
    stream.setBuffer(bytes, static_cast<offile_off_t>(size));
    if (wholeFile)
        stream.setEos();
    Result result = Result::Parsed;
    if (stream.skip(static_cast<offile_off_t>(pos)) != static_cast<offile_off_t>(pos))
        result = Result::Unsupported;
    DcmPrivateTagCache creators;
    dataset.transferInit();
    while (result == Result::Parsed && pos < size) {
        ElementHeader header;
        const HeaderStatus status = readHeader(data, size, pos, header);
        if (status != HeaderStatus::Ok) {
            result = status == HeaderStatus::Short && !wholeFile ? Result::NeedsMoreData : Result::Unsupported;
            break;
        }
        if (header.key == DCM_PixelData)
            break;
        if (header.key.getGroup() == 0x0002) {
            result = Result::Unsupported;
            break;
        }
        const bool defined = header.length != kUndefinedLength;
        if (defined && header.length > size - pos - header.size) {
            result = wholeFile ? Result::Unsupported : Result::NeedsMoreData;
            break;
        }
        DcmTag tag(header.key, header.vr);
        if (header.key.isPrivate())
            if (const char* creator = creators.findPrivateCreator(header.key))
                tag.setPrivateCreator(creator);
        stream.skip(static_cast<offile_off_t>(header.size));
        const OFCondition read = ItemAccess::readValue(dataset, stream, tag, header.length);
        if (read.bad()) {
            result = read == EC_StreamNotifyClient && !wholeFile ? Result::NeedsMoreData : Result::Unsupported;
            break;
        }
        const size_t next = static_cast<size_t>(stream.tell());
        if (next <= pos || (defined && next != pos + header.size + header.length)) {
            result = Result::Unsupported;
            break;
        }
        if (isPrivateCreator(header.key)) {
            DcmElement* element = nullptr;
            if (dataset.findAndGetElement(header.key, element).good())
                creators.updateCache(element);
        }
        pos = next;
    }
    // A header that fills the chunk exactly may go on in the rest of the file.
    if (result == Result::Parsed && pos >= size && !wholeFile)
        result = Result::NeedsMoreData;
    dataset.transferEnd();
    if (result == Result::Parsed)
        dataset.updateOriginalXfer();
    return result;
}

}  // namespace Dravelin::Dicom
