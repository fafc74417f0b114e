#include "host/dicom/DicomDirReader.h"

#include "host/dicom/StructureCheck.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <exception>
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
    const StructureCheck::Result checked = StructureCheck::checkFile(path, false);
    if (checked.truncated)
        return fail("the DICOMDIR " + path + " is truncated");
    if (!checked.ok())
        return fail("cannot read " + path + ": " + checked.problem);
    m_file = std::make_unique<DcmFileFormat>();
    // DCMTK throws from within its reader on some broken values.
    try {
        const OFCondition status =
            m_file->loadFile(OFFilename(path.c_str()), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_autoDetect);
        if (status.bad())
            return fail("cannot read " + path + ": " + status.text());
        return link();
    } catch (const std::exception& e) {
        return fail("cannot read " + path + ": " + e.what());
    }
}

bool DicomDirReader::readBytes(const char* data, std::size_t size)
{
    const StructureCheck::Result checked = StructureCheck::checkBytes(data, size, false);
    if (checked.truncated)
        return fail("the DICOMDIR is truncated");
    if (!checked.ok())
        return fail("cannot read the DICOMDIR: " + checked.problem);
    m_file = std::make_unique<DcmFileFormat>();
    try {
        DcmInputBufferStream stream;
        stream.setBuffer(data, static_cast<offile_off_t>(size));
        stream.setEos();
        m_file->transferInit();
        const OFCondition status = m_file->read(stream, EXS_Unknown, EGL_noChange, DCM_MaxReadLength);
        m_file->transferEnd();
        if (status.bad())
            return fail(std::string("cannot read the DICOMDIR: ") + status.text());
        return link();
    } catch (const std::exception& e) {
        return fail(std::string("cannot read the DICOMDIR: ") + e.what());
    }
}

bool DicomDirReader::link()
{
    m_records.clear();
    m_roots.clear();
    OFString sopClass;
    if (DcmMetaInfo* meta = m_file->getMetaInfo())
        meta->findAndGetOFString(DCM_MediaStorageSOPClassUID, sopClass);
    if (!sopClass.empty() && sopClass != UID_MediaStorageDirectoryStorage)
        return fail("not a DICOMDIR (media storage SOP class '" + std::string(sopClass.c_str()) + "')");
    DcmDataset* dataset = m_file->getDataset();
    DcmSequenceOfItems* sequence = nullptr;
    if (!dataset || dataset->findAndGetSequence(DCM_DirectoryRecordSequence, sequence).bad() || !sequence)
        return fail("not a DICOMDIR (no directory record sequence)");

    std::unordered_map<offile_off_t, std::size_t> byOffset;
    for (DcmObject* object = sequence->nextInContainer(nullptr); object; object = sequence->nextInContainer(object)) {
        auto* item = static_cast<DcmItem*>(object);
        Record record;
        record.item = item;
        OFString type;
        item->findAndGetOFString(DCM_DirectoryRecordType, type);
        record.type = trimmed(type);
        byOffset.emplace(ItemStart::of(*item), m_records.size());
        m_records.push_back(std::move(record));
    }

    // Each chain: the first record's offset and the parent its records belong to.
    constexpr std::size_t kRoot = static_cast<std::size_t>(-1);
    std::vector<std::pair<std::size_t, Uint32>> chains{
        {kRoot, offsetIn(*dataset, DCM_OffsetOfTheFirstDirectoryRecordOfTheRootDirectoryEntity)}};
    std::vector<bool> reached(m_records.size(), false);
    while (!chains.empty()) {
        const auto [parent, first] = chains.back();
        chains.pop_back();
        std::vector<std::size_t> members;
        for (Uint32 offset = first; offset != 0;) {
            const auto found = byOffset.find(static_cast<offile_off_t>(offset));
            if (found == byOffset.end())
                return fail("a record offset (" + std::to_string(offset) + ") points to no record");
            const std::size_t index = found->second;
            if (reached[index])
                return fail("the record at offset " + std::to_string(offset) + " is linked twice");
            reached[index] = true;
            members.push_back(index);
            DcmItem& item = *m_records[index].item;
            if (const Uint32 lower = offsetIn(item, DCM_OffsetOfReferencedLowerLevelDirectoryEntity))
                chains.emplace_back(index, lower);
            offset = offsetIn(item, DCM_OffsetOfTheNextDirectoryRecord);
        }
        (parent == kRoot ? m_roots : m_records[parent].children) = std::move(members);
    }
    if (m_roots.empty() && !m_records.empty())
        return fail("no record is linked from the root of the DICOMDIR");
    return true;
}

bool DicomDirReader::convertToUtf8()
{
    if (!m_file)
        return false;
    OFString fileSetCharset;
    m_file->getDataset()->findAndGetOFStringArray(DCM_SpecificCharacterSet, fileSetCharset);
    // Each record from its own character set, or else the file set's.
    bool converted = true;
    for (const Record& record : m_records) {
        OFString charset;
        if (record.item->findAndGetOFStringArray(DCM_SpecificCharacterSet, charset).bad() || charset.empty())
            charset = fileSetCharset;
        if (!charset.empty() && charset != "ISO_IR 192" && charset != "ISO_IR 6" &&
            record.item->convertCharacterSet(charset, "ISO_IR 192", 0, OFTrue).bad())
            converted = false;
    }
    return converted;
}

}  // namespace Dravelin::Dicom
