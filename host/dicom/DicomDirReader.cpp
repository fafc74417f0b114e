#include "host/dicom/DicomDirReader.h"

#include "host/dicom/RawHeader.h"
#include "host/dicom/StructureCheck.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fstream>
#include <optional>
#include <unordered_map>

namespace Dravelin::Dicom {

namespace {

// Where each item starts in the file (the offsets that records refer to): DCMTK keeps where
// its content starts, after the 8-byte item header.
class ItemStart : public DcmItem
{
public:
    static offile_off_t of(const DcmItem& item) { return item.*(&ItemStart::fStartPosition) - 8; }
};

// A whole file in pages of its own, handed back to the system when it goes: freed through
// the allocator, the bytes of a large DICOMDIR would stay resident while the scan builds the
// tree they were walked for.
class FileBytes
{
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes()
    {
        if (m_data != MAP_FAILED)
            ::munmap(m_data, m_size);
    }

    // Empty when it fails; then the reason.
    std::optional<std::string> read(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return std::string(std::strerror(errno));
        std::optional<std::string> problem = readFrom(fd);
        ::close(fd);
        return problem;
    }
    const char* data() const { return m_size ? static_cast<const char*>(m_data) : ""; }
    std::size_t size() const { return m_size; }

private:
    std::optional<std::string> readFrom(int fd)
    {
        struct stat info;
        if (::fstat(fd, &info) != 0)
            return std::string(std::strerror(errno));
        if (!S_ISREG(info.st_mode))
            return std::string("not a regular file");
        const auto size = static_cast<std::size_t>(info.st_size);
        if (size == 0)
            return std::nullopt;
        m_data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m_data == MAP_FAILED)
            return std::string(std::strerror(errno));
        m_size = size;
        std::size_t filled = 0;
        while (filled < size) {
            const ssize_t n = ::pread(fd, static_cast<char*>(m_data) + filled, size - filled, off_t(filled));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return std::string(std::strerror(errno));
            if (n == 0)
                break;
            filled += std::size_t(n);
        }
        m_size = filled;  // a file cut meanwhile reads as truncated
        return std::nullopt;
    }

    void* m_data = MAP_FAILED;
    std::size_t m_size = 0;
};

std::string trimmed(const OFString& value)
{
    std::string s(value.c_str());
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    while (!s.empty() && s.front() == ' ')
        s.erase(0, 1);
    return s;
}

Uint32 offsetIn(DcmItem& item, const DcmTagKey& tag)
{
    Uint32 value = 0;
    item.findAndGetUint32(tag, value);
    return value;
}

std::uint16_t read16(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(u[0] | u[1] << 8);
}

std::uint32_t read32(const char* p)
{
    return std::uint32_t(read16(p)) | std::uint32_t(read16(p + 2)) << 16;
}

constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFFu;
constexpr std::uint32_t kItem = 0xFFFEE000u;
constexpr std::uint32_t kSequenceEnd = 0xFFFEE0DDu;
constexpr std::uint32_t kRootOffset = 0x00041200u;
constexpr std::uint32_t kRecordSequence = 0x00041220u;
constexpr std::uint32_t kCharacterSet = 0x00080005u;

// What the links of a record need, in tag order.
const std::vector<RawHeader::Field>& linkFields()
{
    static const std::vector<RawHeader::Field> fields{
        {0x00041400u, {'U', 'L'}}, {0x00041420u, {'U', 'L'}}, {0x00041430u, {'C', 'S'}}};
    return fields;
}

std::uint32_t ulOf(const RawHeader& header, std::size_t index)
{
    const EncodedValue* value = header.value(index);
    return value && value->bytes.size() == 4 ? read32(value->bytes.data()) : 0;
}

bool isVr(const char* p, const char* vr)
{
    return p[0] == vr[0] && p[1] == vr[1];
}

}  // namespace

DicomDirReader::DicomDirReader() = default;
DicomDirReader::~DicomDirReader() = default;

bool DicomDirReader::fail(std::string message)
{
    m_error = std::move(message);
    m_records.clear();
    m_roots.clear();
    return false;
}

bool DicomDirReader::readFile(const std::string& path)
{
    m_bytes.clear();
    m_bytes.shrink_to_fit();
    m_bytesStart = 0;
    m_path.clear();
    FileBytes bytes;
    if (const std::optional<std::string> problem = bytes.read(path))
        return fail("cannot read " + path + ": " + *problem);
    const StructureCheck::Result checked = StructureCheck::checkBytes(bytes.data(), bytes.size(), false);
    if (checked.truncated)
        return fail("the DICOMDIR " + path + " is truncated");
    if (!checked.ok())
        return fail("cannot read " + path + ": " + checked.problem);
    if (!walkRaw(bytes.data(), bytes.size()))
        return readWithDcmtk(bytes.data(), bytes.size(), "cannot read " + path);
    // The records are read again when they are asked for; the bytes held meanwhile would be
    // as much again as the tree they make.
    m_in.close();
    m_in.clear();
    m_in.open(path, std::ios::binary);
    if (!m_in)
        return fail("cannot read " + path + ": " + std::strerror(errno));
    m_path = path;
    return true;
}

bool DicomDirReader::readBytes(const char* data, std::size_t size)
{
    const StructureCheck::Result checked = StructureCheck::checkBytes(data, size, false);
    if (checked.truncated)
        return fail("the DICOMDIR is truncated");
    if (!checked.ok())
        return fail("cannot read the DICOMDIR: " + checked.problem);
    m_bytes.assign(data, data + size);
    m_bytesStart = 0;
    m_path.clear();
    return walkRaw(m_bytes.data(), m_bytes.size()) || readWithDcmtk(data, size, "cannot read the DICOMDIR");
}

// The file's bytes walked without building a tree; false (and nothing read) for whatever is
// not simple enough to be read exactly as DCMTK reads it, which DCMTK then reads.
bool DicomDirReader::walkRaw(const char* data, std::size_t size)
{
    m_records.clear();
    m_roots.clear();
    RawHeader::Meta meta;
    if (RawHeader::readMeta(data, size, true, meta) != RawHeader::Result::Parsed || !meta.explicitVr ||
        (!meta.mediaStorageSopClass.empty() && meta.mediaStorageSopClass != UID_MediaStorageDirectoryStorage))
        return false;

    RawHeader links(linkFields());
    std::vector<unsigned long long> offsets, next, lower;
    unsigned long long root = 0;
    bool hasSequence = false;
    std::uint32_t previous = 0;
    std::size_t pos = meta.datasetStart;
    while (pos < size) {
        if (size - pos < 8)
            return false;
        const char* p = data + pos;
        const std::uint32_t tag = std::uint32_t(read16(p)) << 16 | read16(p + 2);
        if (tag >> 16 == 0xFFFE || tag <= previous || !RawHeader::readsVr(p + 4))
            return false;
        previous = tag;
        std::size_t header = 8;
        std::uint32_t length = read16(p + 6);
        if (RawHeader::hasLongLength(p + 4)) {
            if (size - pos < 12)
                return false;
            header = 12;
            length = read32(p + 8);
        }
        const std::size_t valueStart = pos + header;
        if (tag != kRecordSequence) {
            if (length == kUndefinedLength || length > size - valueStart || isVr(p + 4, "SQ"))
                return false;
            if (tag == kRootOffset && isVr(p + 4, "UL") && length == 4)
                root = read32(data + valueStart);
            else if (tag == kCharacterSet) {
                std::string value(data + valueStart, length);
                while (!value.empty() && value.back() == ' ')
                    value.pop_back();
                m_fileSetCharset = value;
            }
            pos = valueStart + length;
            continue;
        }
        if (!isVr(p + 4, "SQ"))
            return false;
        hasSequence = true;
        const bool definedSequence = length != kUndefinedLength;
        if (definedSequence && length > size - valueStart)
            return false;
        const std::size_t sequenceEnd = definedSequence ? valueStart + length : size;
        std::size_t at = valueStart;
        for (;;) {
            if (definedSequence && at == sequenceEnd)
                break;
            if (sequenceEnd - at < 8)
                return false;
            const std::uint32_t itemTag = std::uint32_t(read16(data + at)) << 16 | read16(data + at + 2);
            const std::uint32_t itemLength = read32(data + at + 4);
            if (itemTag == kSequenceEnd && !definedSequence && itemLength == 0) {
                at += 8;
                break;
            }
            if (itemTag != kItem)
                return false;
            const std::size_t begin = at + 8;
            const bool definedItem = itemLength != kUndefinedLength;
            if (definedItem && itemLength > sequenceEnd - begin)
                return false;
            const std::size_t limit = definedItem ? begin + itemLength : sequenceEnd;
            std::size_t end = 0;
            if (links.parseItem(data + begin, limit - begin, true, {}, end) != RawHeader::Result::Parsed)
                return false;
            Record record;
            record.begin = begin;
            record.end = begin + end;
            record.definedLength = definedItem;
            if (definedItem && record.end != limit)
                return false;
            if (const EncodedValue* type = links.value(2))
                record.type.assign(type->bytes);
            offsets.push_back(at);
            next.push_back(ulOf(links, 0));
            lower.push_back(ulOf(links, 1));
            at = definedItem ? limit : record.end + 8;
            m_records.push_back(std::move(record));
        }
        pos = definedSequence ? sequenceEnd : at;
    }
    if (!hasSequence) {
        m_records.clear();
        return false;
    }
    m_file.reset();
    m_records.shrink_to_fit();  // held while the scan builds its tree
    return link(offsets, next, lower, root);
}

bool DicomDirReader::readWithDcmtk(const char* data, std::size_t size, const std::string& failure)
{
    m_records.clear();
    m_file = std::make_unique<DcmFileFormat>();
    // DCMTK throws from within its reader on some broken values.
    try {
        DcmInputBufferStream stream;
        stream.setBuffer(data, static_cast<offile_off_t>(size));
        stream.setEos();
        m_file->transferInit();
        const OFCondition status = m_file->read(stream, EXS_Unknown, EGL_noChange, DCM_MaxReadLength);
        m_file->transferEnd();
        m_bytes.clear();
        m_bytes.shrink_to_fit();
        if (status.bad())
            return fail(failure + ": " + status.text());
    } catch (const std::exception& e) {
        return fail(failure + ": " + e.what());
    }

    OFString sopClass;
    if (DcmMetaInfo* meta = m_file->getMetaInfo())
        meta->findAndGetOFString(DCM_MediaStorageSOPClassUID, sopClass);
    if (!sopClass.empty() && sopClass != UID_MediaStorageDirectoryStorage)
        return fail("not a DICOMDIR (media storage SOP class '" + std::string(sopClass.c_str()) + "')");
    DcmDataset* dataset = m_file->getDataset();
    DcmSequenceOfItems* sequence = nullptr;
    if (!dataset || dataset->findAndGetSequence(DCM_DirectoryRecordSequence, sequence).bad() || !sequence)
        return fail("not a DICOMDIR (no directory record sequence)");
    OFString charset;
    dataset->findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
    m_fileSetCharset = charset.c_str();

    std::vector<unsigned long long> offsets, next, lower;
    for (DcmObject* object = sequence->nextInContainer(nullptr); object; object = sequence->nextInContainer(object)) {
        auto* item = static_cast<DcmItem*>(object);
        Record record;
        record.item = item;
        OFString type;
        item->findAndGetOFString(DCM_DirectoryRecordType, type);
        record.type = trimmed(type);
        offsets.push_back(static_cast<unsigned long long>(ItemStart::of(*item)));
        next.push_back(offsetIn(*item, DCM_OffsetOfTheNextDirectoryRecord));
        lower.push_back(offsetIn(*item, DCM_OffsetOfReferencedLowerLevelDirectoryEntity));
        m_records.push_back(std::move(record));
    }
    m_converted.assign(m_records.size(), 0);
    return link(offsets, next, lower, offsetIn(*dataset, DCM_OffsetOfTheFirstDirectoryRecordOfTheRootDirectoryEntity));
}

bool DicomDirReader::link(const std::vector<unsigned long long>& offsets, const std::vector<unsigned long long>& next,
                          const std::vector<unsigned long long>& lower, unsigned long long root)
{
    m_roots.clear();
    std::unordered_map<unsigned long long, std::size_t> byOffset;
    byOffset.reserve(offsets.size());
    for (std::size_t i = 0; i < offsets.size(); ++i)
        byOffset.emplace(offsets[i], i);

    // Each chain: the first record's offset and the parent its records belong to.
    constexpr std::size_t kRoot = static_cast<std::size_t>(-1);
    std::vector<std::pair<std::size_t, unsigned long long>> chains{{kRoot, root}};
    std::vector<bool> reached(m_records.size(), false);
    while (!chains.empty()) {
        const std::size_t parent = chains.back().first;
        const unsigned long long first = chains.back().second;
        chains.pop_back();
        std::vector<std::size_t> members;
        for (unsigned long long offset = first; offset != 0;) {
            const auto found = byOffset.find(offset);
            if (found == byOffset.end())
                return fail("a record offset (" + std::to_string(offset) + ") points to no record");
            const std::size_t index = found->second;
            if (reached[index])
                return fail("the record at offset " + std::to_string(offset) + " is linked twice");
            reached[index] = true;
            members.push_back(index);
            if (lower[index] != 0)
                chains.emplace_back(index, lower[index]);
            offset = next[index];
        }
        (parent == kRoot ? m_roots : m_records[parent].children) = std::move(members);
    }
    if (m_roots.empty() && !m_records.empty())
        return fail("no record is linked from the root of the DICOMDIR");
    return true;
}

const char* DicomDirReader::recordBytes(const Record& record)
{
    if (record.begin >= m_bytesStart && record.end <= m_bytesStart + m_bytes.size())
        return m_bytes.data() + (record.begin - m_bytesStart);
    if (m_path.empty())
        return nullptr;
    constexpr std::size_t kWindow = 256 << 10;
    m_bytes.resize(std::max(kWindow, record.end - record.begin));
    m_in.clear();
    m_in.seekg(static_cast<std::streamoff>(record.begin));
    m_in.read(m_bytes.data(), static_cast<std::streamsize>(m_bytes.size()));
    m_bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(m_in.gcount(), 0)));
    m_bytesStart = record.begin;
    // A file that changed since its walk.
    return record.end - record.begin <= m_bytes.size() ? m_bytes.data() : nullptr;
}

bool DicomDirReader::parseRecord(std::size_t index, RawHeader& header)
{
    if (m_file || index >= m_records.size())
        return false;
    const Record& record = m_records[index];
    const char* bytes = recordBytes(record);
    std::size_t end = 0;
    return bytes &&
           header.parseItem(bytes, record.end - record.begin, true, m_fileSetCharset, end) ==
               RawHeader::Result::Parsed &&
           end == record.end - record.begin;
}

DcmItem* DicomDirReader::item(std::size_t index)
{
    if (index >= m_records.size())
        return nullptr;
    const Record& record = m_records[index];
    if (m_file) {
        if (!m_converted[index]) {
            m_converted[index] = 1;
            convert(*record.item);
        }
        return record.item;
    }
    m_built.reset();
    m_itemError.clear();
    // The item's own header lies before its elements.
    const std::string where = "the record at offset " + std::to_string(record.begin - 8);
    const char* bytes = recordBytes(record);
    if (!bytes) {
        m_itemError = where + " lies past the end of the file (it changed since it was read)";
        return nullptr;
    }
    try {
        auto built = std::make_unique<DcmItem>(DcmTag(DCM_Item), Uint32(record.end - record.begin));
        DcmInputBufferStream stream;
        stream.setBuffer(bytes, static_cast<offile_off_t>(record.end - record.begin));
        stream.setEos();
        built->transferInit();
        const OFCondition status = built->read(stream, EXS_LittleEndianExplicit, EGL_noChange, DCM_MaxReadLength);
        built->transferEnd();
        if (status.bad()) {
            m_itemError = where + ": " + status.text();
            return nullptr;
        }
        m_built = std::move(built);
    } catch (const std::exception& e) {
        m_itemError = where + ": " + e.what();
        return nullptr;
    }
    convert(*m_built);
    return m_built.get();
}

void DicomDirReader::convert(DcmItem& item)
{
    OFString charset;
    if (item.findAndGetOFStringArray(DCM_SpecificCharacterSet, charset).bad() || charset.empty())
        charset = m_fileSetCharset.c_str();
    if (!charset.empty() && charset != "ISO_IR 192" && charset != "ISO_IR 6" &&
        item.convertCharacterSet(charset, "ISO_IR 192", 0, OFTrue).bad())
        m_conversionFailed = true;
}

}  // namespace Dravelin::Dicom
