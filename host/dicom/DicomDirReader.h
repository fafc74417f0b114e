#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class DcmFileFormat;
class DcmItem;

namespace Dravelin::Dicom {

// Reads the records of a DICOMDIR into their hierarchy (patients, their studies, ...).
//
// The records are linked by byte offsets. A DICOMDIR that is truncated, whose offsets point at
// no record, or whose links run in a circle is refused with a message: DCMTK's own directory
// class drops such records without a word and follows the links recursively. Here the links
// are followed with a work list, and the record list is walked once in order (not by index,
// which DCMTK finds by counting from the start each time).
class DicomDirReader
{
public:
    struct Record
    {
        DcmItem* item = nullptr;            // owned by the reader
        std::string type;                   // DirectoryRecordType, trimmed ("PATIENT", "STUDY", ...)
        std::vector<std::size_t> children;  // indexes into records(), in directory order
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

    // Converts the texts of every record to UTF-8, each from its own character set or else the
    // file set's; false when one could not be converted (its values stay as stored).
    bool convertToUtf8();

private:
    bool link();
    bool fail(std::string message);

    std::unique_ptr<DcmFileFormat> m_file;
    std::vector<Record> m_records;
    std::vector<std::size_t> m_roots;
    std::string m_error;
};

}  // namespace Dravelin::Dicom
