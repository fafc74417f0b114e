#pragma once

#include <cstddef>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class DcmFileFormat;
class DcmItem;

namespace Dravelin::Dicom {

class RawHeader;

// Reads the records of a DICOMDIR into their hierarchy (patients, their studies, ...).
//
// The records are linked by byte offsets. A DICOMDIR that is truncated, whose offsets point at
// no record, or whose links run in a circle is refused with a message: DCMTK's own directory
// class drops such records without a word and follows the links recursively. Here the links
// are followed with a work list, and the record list is walked once in order.
//
// A DICOMDIR in explicit VR little endian is walked in its bytes, and each record is parsed
// when it is asked for: a DCMTK tree of every record costs some 3 KiB per record, held until
// the end (an image record's values are a tenth of that). Anything else goes to DCMTK whole.
class DicomDirReader
{
public:
    struct Record
    {
        std::string type;                   // DirectoryRecordType, trimmed ("PATIENT", "STUDY", ...)
        std::vector<std::size_t> children;  // indexes into records(), in directory order
        // Where the record's elements lie in the bytes (raw walks; the item delimiter excluded).
        std::size_t begin = 0;
        std::size_t end = 0;
        bool definedLength = true;
        DcmItem* item = nullptr;  // DCMTK reads: the record in the tree the reader owns
    };

    DicomDirReader();
    ~DicomDirReader();
    DicomDirReader(const DicomDirReader&) = delete;
    DicomDirReader& operator=(const DicomDirReader&) = delete;

    // False (with error()) when the file or the bytes are not a readable DICOMDIR.
    bool readFile(const std::string& path);
    bool readBytes(const char* data, std::size_t size);

    const std::string& error() const { return m_error; }
    const std::vector<Record>& records() const { return m_records; }
    // The top-level records (usually patients), in directory order.
    const std::vector<std::size_t>& roots() const { return m_roots; }
    // Whether the records were walked in the bytes (parseRecord() may succeed).
    bool walkedRaw() const { return !m_file; }

    // The values of record `index` parsed straight from the bytes into `header`; false when
    // that is not possible (a DCMTK read, or values DCMTK would read differently): use item().
    bool parseRecord(std::size_t index, RawHeader& header);
    // Record `index` as a DCMTK item with its texts in UTF-8, each record from its own
    // character set or else the file set's. After a raw walk the item is built from the
    // record's bytes and lives until the next call.
    DcmItem* item(std::size_t index);
    // Whether a record's texts could not be converted (its values stay as stored).
    bool conversionFailed() const { return m_conversionFailed; }
    // Why the last item() gave none: the record's offset in the file and the reason.
    const std::string& itemError() const { return m_itemError; }

private:
    bool readWithDcmtk(const char* data, std::size_t size, const std::string& path);
    bool walkRaw(const char* data, std::size_t size);
    bool link(const std::vector<unsigned long long>& offsets, const std::vector<unsigned long long>& next,
              const std::vector<unsigned long long>& lower, unsigned long long root);
    bool fail(std::string message);
    void convert(DcmItem& item);
    const char* recordBytes(const Record& record);

    // Raw walks of bytes in memory: all of them; after a file's walk, a window of the file read
    // again as records are asked for (in directory order, mostly in file order).
    std::vector<char> m_bytes;
    std::size_t m_bytesStart = 0;
    std::string m_path;
    std::ifstream m_in;
    std::unique_ptr<DcmFileFormat> m_file;
    std::unique_ptr<DcmItem> m_built;
    std::string m_fileSetCharset;
    std::vector<char> m_converted;  // DCMTK reads: records already converted
    std::vector<Record> m_records;
    std::vector<std::size_t> m_roots;
    std::string m_error;
    std::string m_itemError;
    bool m_conversionFailed = false;
};

}  // namespace Dravelin::Dicom
