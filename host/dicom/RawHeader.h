#pragma once

#include "host/dicom/Element.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace Dravelin::Dicom {

// The values of a few top-level elements of a DICOM file, found in its first bytes without
// building a dataset. A folder scan reads some 35 elements of every file; DCMTK builds, reads
// and frees a hundred elements for them.
//
// Only the simple and common is read: the file meta group, then explicit or implicit VR little
// endian; top-level tags in ascending order; sequences well formed and nested a few levels at
// most; every kept value of the VR the data dictionary gives it and free of what DCMTK changes
// while reading (odd lengths, NUL bytes, spaces around values, white space in UIDs, text that a
// character set conversion would touch). Anything else is declined, to be read by DCMTK: so a
// parsed value reads exactly as DCMTK reads it (Element<T>::valueOf), and a file that the
// structure check or DCMTK would refuse is never parsed. Every read is bounds-checked; the walk
// keeps its own stack of sequences and items (no recursion).
class RawHeader
{
public:
    // A top-level element to keep, with the VR of its dictionary entry. A sequence ("SQ") is
    // only noted as present.
    struct Field
    {
        std::uint32_t tag;  // group << 16 | element
        char vr[2];
    };

    enum class Result {
        Parsed,         // the values of the elements before (7FE0,0010) are at hand
        NeedsMoreData,  // the header goes on past the given bytes of a longer file
        Declined,       // see above: let DCMTK read the file
        Truncated,      // the whole file ends inside an element: DCMTK cannot read it either
    };

    // `fields` sorted by tag, without duplicates.
    explicit RawHeader(std::vector<Field> fields);

    // `data` holds the first `size` bytes of a file; `wholeFile` says whether that is all of it.
    // The values point into `data`, which must outlive their use.
    Result parse(const char* data, std::size_t size, bool wholeFile);

    // The file meta group of `data` (the first `size` bytes of a file): where the data set
    // starts, and whether it is explicit VR little endian (Declined for other encodings).
    struct Meta
    {
        std::size_t datasetStart = 0;
        bool explicitVr = false;
        std::string_view mediaStorageSopClass;
    };
    static Result readMeta(const char* data, std::size_t size, bool wholeFile, Meta& meta);

    // Parses the elements of one item, `data` pointing at its first element: up to `size`
    // bytes, or up to an item delimitation item, whose position goes to `end`. Group 0004 is
    // taken (the records of a DICOMDIR); `charset` is the one in force where the item declares
    // none. The values point into `data`.
    Result parseItem(const char* data, std::size_t size, bool explicitVr, std::string_view charset, std::size_t& end);

    // Whether `vr` (two bytes) is one that parse() reads (the standard VRs but UN), and
    // whether its explicit encoding has a 32-bit length.
    static bool readsVr(const char* vr);
    static bool hasLongLength(const char* vr);

    // After Parsed: the value of the field at `index` (in the order given), or null when the
    // file does not hold the element. Present but empty elements give an empty value.
    const EncodedValue* value(std::size_t index) const { return m_present[index] ? &m_values[index] : nullptr; }
    // The same by tag (group << 16 | element); null as well for a tag that is not a field.
    const EncodedValue* find(std::uint32_t tag) const
    {
        for (std::size_t slot = hashSlot(tag);; slot = (slot + 1) & (m_slots.size() - 1)) {
            const int index = m_slots[slot];
            if (index < 0)
                return nullptr;
            if (m_fields[std::size_t(index)].tag == tag)
                return value(std::size_t(index));
        }
    }
    const std::vector<Field>& fields() const { return m_fields; }

private:
    Result walk(const unsigned char* data, std::size_t size, std::size_t pos, bool wholeFile, bool explicitVr,
                std::size_t* itemEnd = nullptr);
    bool keep(std::size_t index, const unsigned char* value, std::uint32_t length, const unsigned char* vr);
    bool charsetAllowsValues() const;

    // An open-addressing table of field indexes by tag (-1: empty), a quarter full at most:
    // the record builders look up some fifty tags per file.
    std::size_t hashSlot(std::uint32_t tag) const { return std::uint32_t(tag * 2654435761u) >> m_shift; }

    std::vector<Field> m_fields;
    std::vector<std::int32_t> m_slots;  // a power of two of them
    int m_shift = 32;
    std::vector<EncodedValue> m_values;
    std::vector<char> m_present;
    EncodedValue m_charset;
    bool m_hasCharset = false;
};

}  // namespace Dravelin::Dicom
