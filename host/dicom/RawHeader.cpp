#include "host/dicom/RawHeader.h"

#include "host/dicom/Utils.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcdicent.h>
#include <dcmtk/dcmdata/dchashdi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string_view>

namespace Dravelin::Dicom {

namespace {

constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFFu;
constexpr std::uint32_t kItem = 0xFFFEE000u;
constexpr std::uint32_t kItemEnd = 0xFFFEE00Du;
constexpr std::uint32_t kSequenceEnd = 0xFFFEE0DDu;
constexpr std::uint32_t kPixelData = 0x7FE00010u;
constexpr std::uint32_t kSpecificCharacterSet = 0x00080005u;
constexpr std::size_t kNoEnd = ~std::size_t(0);
// Sequences and items open at once. Deeper nesting is rare and goes to DCMTK, behind the
// structure check.
constexpr int kMaximumDepth = 16;

std::uint16_t read16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t read32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

bool isVr(const unsigned char* vr, const char* name)
{
    return vr[0] == static_cast<unsigned char>(name[0]) && vr[1] == static_cast<unsigned char>(name[1]);
}

enum VrFlag : unsigned char {
    Accepted = 1,      // the standard VRs but UN, whose reading DCMTK bends (dictionary VR, implicit sequences)
    LongLength = 2,    // two reserved bytes and a 32-bit length in explicit VR
    Text = 4,          // read as text
    CharsetText = 8,   // texts a declared character set applies to (DCMTK converts only these)
    SingleValued = 16  // texts that are one value whatever they hold
};

// Flags per VR, looked up by the two letters.
class VrTable
{
public:
    VrTable()
    {
        for (const char* vr :
             {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL", "IS", "LO", "LT", "OB", "OD", "OF", "OL", "OV",
              "OW", "PN", "SH", "SL", "SQ", "SS", "ST", "SV", "TM", "UC", "UI", "UL", "UR", "US", "UT", "UV"})
            set(vr, Accepted);
        for (const char* vr : {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UR", "UT", "UV"})
            set(vr, LongLength);
        for (const char* vr :
             {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT", "PN", "SH", "ST", "TM", "UC", "UI", "UR", "UT"})
            set(vr, Text);
        for (const char* vr : {"LO", "LT", "PN", "SH", "ST", "UC", "UT"})
            set(vr, CharsetText);
        for (const char* vr : {"LT", "ST", "UT", "UR"})
            set(vr, SingleValued);
    }
    unsigned char flags(const void* vr) const
    {
        const auto* v = static_cast<const unsigned char*>(vr);
        if (v[0] < 'A' || v[0] > 'Z' || v[1] < 'A' || v[1] > 'Z')
            return 0;
        return m_flags[(v[0] - 'A') * 26 + (v[1] - 'A')];
    }

private:
    void set(const char* vr, VrFlag flag) { m_flags[(vr[0] - 'A') * 26 + (vr[1] - 'A')] |= flag; }
    std::array<unsigned char, 26 * 26> m_flags{};
};

const VrTable kVrs;

bool has(const void* vr, VrFlag flag)
{
    return (kVrs.flags(vr) & flag) != 0;
}

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The data dictionary's sequences: an implicit VR value is read as a sequence when its entry
// says SQ. Private entries are matched on group and element byte only (not the creator), so
// that a value that might be read as a sequence is taken for one.
class SequenceTags
{
public:
    static const SequenceTags& get()
    {
        static const SequenceTags tags;
        return tags;
    }

    bool mayBeSequence(std::uint32_t tag) const
    {
        const std::uint16_t group = tag >> 16;
        const std::uint16_t element = tag & 0xFFFF;
        if (std::binary_search(m_public.begin(), m_public.end(), tag))
            return true;
        const bool isPrivate = (group & 1) != 0;
        return std::any_of(m_ranges.begin(), m_ranges.end(), [&](const Range& r) {
            if (group < r.groupFrom || group > r.groupTo)
                return false;
            if (r.isPrivate)
                return isPrivate && (element & 0xFF) >= r.elementFrom && (element & 0xFF) <= r.elementTo;
            return element >= r.elementFrom && element <= r.elementTo;
        });
    }

private:
    struct Range
    {
        std::uint16_t groupFrom, groupTo, elementFrom, elementTo;
        bool isPrivate;
    };

    SequenceTags()
    {
        // DCMTK offers its iterators on the non-const dictionary only; iterating does not modify it.
        auto& dictionary = const_cast<DcmDataDictionary&>(dcmDataDict.rdlock());
        const auto add = [this](const DcmDictEntry* entry) {
            if (!entry || entry->getEVR() != EVR_SQ)
                return;
            const bool isPrivate = entry->getPrivateCreator() != nullptr;
            if (!isPrivate && !entry->isRepeating()) {
                m_public.push_back(std::uint32_t(entry->getGroup()) << 16 | entry->getElement());
                return;
            }
            m_ranges.push_back(
                {entry->getGroup(), entry->getUpperGroup(), entry->getElement(), entry->getUpperElement(), isPrivate});
        };
        for (auto it = dictionary.normalBegin(); it != dictionary.normalEnd(); ++it)
            add(*it);
        for (auto it = dictionary.repeatingBegin(); it != dictionary.repeatingEnd(); ++it)
            add(*it);
        dcmDataDict.rdunlock();
        std::sort(m_public.begin(), m_public.end());
    }

    std::vector<std::uint32_t> m_public;
    std::vector<Range> m_ranges;
};

// The character sets whose conversion leaves ASCII text as it is (ISO 2022 with its escapes
// only switches away from ASCII on an ESC; JIS X 0201 puts the yen sign in place of "\").
bool keepsAscii(std::string_view term)
{
    static constexpr std::string_view kTerms[] = {
        "ISO_IR 6",        "ISO_IR 100",      "ISO_IR 101",      "ISO_IR 109",      "ISO_IR 110",
        "ISO_IR 126",      "ISO_IR 127",      "ISO_IR 138",      "ISO_IR 144",      "ISO_IR 148",
        "ISO_IR 166",      "ISO_IR 192",      "ISO_IR 203",      "GB18030",         "GBK",
        "ISO 2022 IR 6",   "ISO 2022 IR 100", "ISO 2022 IR 101", "ISO 2022 IR 109", "ISO 2022 IR 110",
        "ISO 2022 IR 126", "ISO 2022 IR 127", "ISO 2022 IR 138", "ISO 2022 IR 144", "ISO 2022 IR 148",
        "ISO 2022 IR 166", "ISO 2022 IR 203", "ISO 2022 IR 58",  "ISO 2022 IR 87",  "ISO 2022 IR 149",
        "ISO 2022 IR 159"};
    return term.empty() || std::find(std::begin(kTerms), std::end(kTerms), term) != std::end(kTerms);
}

}  // namespace

bool RawHeader::readsVr(const char* vr)
{
    return has(vr, Accepted);
}

bool RawHeader::hasLongLength(const char* vr)
{
    return has(vr, LongLength);
}

RawHeader::RawHeader(std::vector<Field> fields)
    : m_fields(std::move(fields)), m_values(m_fields.size()), m_present(m_fields.size(), 0)
{
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        std::memcpy(m_values[i].vr, m_fields[i].vr, 2);
    int bits = 2;
    while ((std::size_t(1) << bits) < 4 * m_fields.size())
        ++bits;
    m_shift = 32 - bits;
    m_slots.assign(std::size_t(1) << bits, -1);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        std::size_t slot = hashSlot(m_fields[i].tag);
        while (m_slots[slot] >= 0)
            slot = (slot + 1) & (m_slots.size() - 1);
        m_slots[slot] = std::int32_t(i);
    }
}

RawHeader::Result RawHeader::readMeta(const char* bytes, std::size_t size, bool wholeFile, Meta& meta)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes);
    if (size < 132)  // without a preamble DCMTK may still read a bare data set
        return wholeFile ? Result::Declined : Result::NeedsMoreData;
    const Result shortData = wholeFile ? Result::Truncated : Result::NeedsMoreData;
    if (std::memcmp(data + 128, "DICM", 4) != 0)
        return Result::Declined;

    // The file meta group: explicit VR little endian, defined lengths, ascending tags.
    std::size_t pos = 132;
    std::size_t declaredEnd = 0;
    std::uint32_t previous = 0;
    std::string_view transferSyntax;
    meta.mediaStorageSopClass = {};
    int count = 0;
    for (;;) {
        if (size - pos < 8)  // DCMTK takes a file that ends between meta elements
            return pos == size && wholeFile ? Result::Declined : shortData;
        const unsigned char* p = data + pos;
        if (read16(p) != 0x0002)
            break;
        const std::uint32_t tag = std::uint32_t(read16(p)) << 16 | read16(p + 2);
        if (!has(p + 4, Accepted) || isVr(p + 4, "SQ") || (count > 0 && tag <= previous))
            return Result::Declined;
        std::size_t header = 8;
        std::uint32_t length = read16(p + 6);
        if (has(p + 4, LongLength)) {
            if (size - pos < 12)
                return shortData;
            length = read32(p + 8);
            header = 12;
        }
        if (length == kUndefinedLength)
            return Result::Declined;
        if (length > size - pos - header)
            return shortData;
        const unsigned char* value = p + header;
        if (tag == 0x00020000u && count == 0 && length == 4)
            declaredEnd = pos + header + 4 + read32(value);
        else if (tag == 0x00020010u)
            transferSyntax = std::string_view(reinterpret_cast<const char*>(value), length);
        else if (tag == 0x00020002u)
            meta.mediaStorageSopClass = std::string_view(reinterpret_cast<const char*>(value), length);
        pos += header + length;
        previous = tag;
        ++count;
    }
    for (std::string_view* uid : {&transferSyntax, &meta.mediaStorageSopClass})
        while (!uid->empty() && (uid->back() == '\0' || uid->back() == ' '))
            uid->remove_suffix(1);
    if (count == 0 || (declaredEnd != 0 && declaredEnd != pos))
        return Result::Declined;
    if (transferSyntax == "1.2.840.10008.1.2.1")
        meta.explicitVr = true;
    else if (transferSyntax == "1.2.840.10008.1.2")
        meta.explicitVr = false;
    else
        return Result::Declined;
    meta.datasetStart = pos;
    return Result::Parsed;
}

RawHeader::Result RawHeader::parse(const char* bytes, std::size_t size, bool wholeFile)
{
    std::fill(m_present.begin(), m_present.end(), 0);
    m_hasCharset = false;
    Meta meta;
    const Result read = readMeta(bytes, size, wholeFile, meta);
    if (read != Result::Parsed)
        return read;
    const Result walked =
        walk(reinterpret_cast<const unsigned char*>(bytes), size, meta.datasetStart, wholeFile, meta.explicitVr);
    if (walked != Result::Parsed)
        return walked;
    return charsetAllowsValues() ? Result::Parsed : Result::Declined;
}

RawHeader::Result RawHeader::parseItem(const char* bytes, std::size_t size, bool explicitVr, std::string_view charset,
                                       std::size_t& end)
{
    std::fill(m_present.begin(), m_present.end(), 0);
    m_hasCharset = false;
    end = size;
    const Result walked = walk(reinterpret_cast<const unsigned char*>(bytes), size, 0, true, explicitVr, &end);
    if (walked != Result::Parsed)
        return walked;
    if (!m_hasCharset && !charset.empty()) {
        m_charset.bytes = charset;
        m_hasCharset = true;
    }
    return charsetAllowsValues() ? Result::Parsed : Result::Declined;
}

RawHeader::Result RawHeader::walk(const unsigned char* data, std::size_t size, std::size_t pos, bool wholeFile,
                                  bool explicitVr, std::size_t* itemEnd)
{
    const Result shortData = wholeFile ? Result::Truncated : Result::NeedsMoreData;
    struct Frame
    {
        bool item;          // an item, else a sequence
        std::size_t end;    // kNoEnd: undefined length, closed by a delimiter
        std::size_t bound;  // where the innermost defined-length container around it ends
    };
    std::array<Frame, kMaximumDepth> frames;
    int depth = 0;
    std::uint32_t previous = 0;
    std::size_t nextField = 0;
    const SequenceTags* sequenceTags = explicitVr ? nullptr : &SequenceTags::get();

    for (;;) {
        // Defined-length items and sequences end where their length says.
        while (depth > 0 && frames[depth - 1].end == pos)
            --depth;
        const std::size_t limit = depth > 0 ? frames[depth - 1].bound : kNoEnd;
        if (pos > limit)
            return Result::Declined;
        if (pos == size) {
            // The whole data set without pixel data, or a header that may go on in the file.
            if (itemEnd && depth == 0)
                *itemEnd = pos;
            if (!wholeFile)
                return Result::NeedsMoreData;
            return depth == 0 ? Result::Parsed : Result::Declined;
        }
        if (limit - pos < 8)
            return Result::Declined;
        if (size - pos < 8)
            return shortData;
        const unsigned char* p = data + pos;
        const std::uint32_t tag = std::uint32_t(read16(p)) << 16 | read16(p + 2);
        const bool inSequence = depth > 0 && !frames[depth - 1].item;

        if (itemEnd && depth == 0 && tag == kItemEnd) {
            if (read32(p + 4) != 0)
                return Result::Declined;
            *itemEnd = pos;
            return Result::Parsed;
        }
        if (inSequence || tag == kItemEnd) {
            const std::uint32_t length = read32(p + 4);
            pos += 8;
            if (tag == kItem && inSequence) {
                if (depth == kMaximumDepth)
                    return Result::Declined;
                if (length == kUndefinedLength) {
                    frames[depth++] = {true, kNoEnd, limit};
                    continue;
                }
                if (length > limit - pos)
                    return Result::Declined;
                if (length > size - pos)
                    return shortData;
                frames[depth++] = {true, pos + length, pos + length};
                continue;
            }
            // A delimiter must close what is open, and only what has no length of its own.
            const bool closesItem = tag == kItemEnd && !inSequence && depth > 0;
            const bool closesSequence = tag == kSequenceEnd && inSequence;
            if (length != 0 || !(closesItem || closesSequence) || frames[depth - 1].end != kNoEnd)
                return Result::Declined;
            --depth;
            continue;
        }

        const std::uint16_t group = tag >> 16;
        if (group == 0xFFFE)
            return Result::Declined;
        std::uint32_t length;
        std::size_t header = 8;
        const unsigned char* vr = nullptr;
        if (explicitVr) {
            vr = p + 4;
            if (!has(vr, Accepted))
                return Result::Declined;
            length = read16(p + 6);
            if (has(vr, LongLength)) {
                if (limit - pos < 12)
                    return Result::Declined;
                if (size - pos < 12)
                    return shortData;
                length = read32(p + 8);
                header = 12;
            }
        } else {
            length = read32(p + 4);
        }

        int field = -1;
        if (depth == 0) {
            if (tag == kPixelData)
                return itemEnd ? Result::Declined : Result::Parsed;
            // No command, meta or illegal group in a data set (but the directory group in an
            // item); DCMTK sorts what is out of order and drops what is doubled.
            if (group < (itemEnd ? 0x0004 : 0x0008) || (previous != 0 && tag <= previous))
                return Result::Declined;
            previous = tag;
            while (nextField < m_fields.size() && m_fields[nextField].tag < tag)
                ++nextField;
            if (nextField < m_fields.size() && m_fields[nextField].tag == tag)
                field = static_cast<int>(nextField);
        }
        const std::size_t valueStart = pos + header;

        if (length == kUndefinedLength) {
            // Only sequences come without a length before the pixel data.
            const bool sequence = explicitVr ? isVr(vr, "SQ") : (group & 1) != 0 || sequenceTags->mayBeSequence(tag);
            if (!sequence || depth == kMaximumDepth)
                return Result::Declined;
            if (field >= 0 && !keep(field, nullptr, 0, reinterpret_cast<const unsigned char*>("SQ")))
                return Result::Declined;
            frames[depth++] = {false, kNoEnd, limit};
            pos = valueStart;
            continue;
        }
        if (length > limit - valueStart)
            return Result::Declined;
        if (length > size - valueStart)
            return shortData;

        // A value that starts with an item is walked as a sequence, as the structure check
        // walks it; one that the dictionary or its VR makes a sequence must start with an item.
        const bool startsWithItem =
            length >= 8 && read16(data + valueStart) == 0xFFFE && read16(data + valueStart + 2) == 0xE000;
        const bool declaredSequence = explicitVr ? isVr(vr, "SQ") : sequenceTags->mayBeSequence(tag);
        if (declaredSequence && length > 0 && !startsWithItem)
            return Result::Declined;
        if (field >= 0) {
            const unsigned char* fieldVr = vr ? vr : reinterpret_cast<const unsigned char*>(m_fields[field].vr);
            if (declaredSequence && !isVr(fieldVr, "SQ"))
                return Result::Declined;
            if (!keep(field, data + valueStart, length, fieldVr))
                return Result::Declined;
        } else if (depth == 0 && tag == kSpecificCharacterSet) {
            m_charset.bytes = std::string_view(reinterpret_cast<const char*>(data + valueStart), length);
            m_charset.vr[0] = 'C';
            m_charset.vr[1] = 'S';
            m_hasCharset = true;
        }
        if (startsWithItem || declaredSequence) {
            if (depth == kMaximumDepth)
                return Result::Declined;
            frames[depth++] = {false, valueStart + length, valueStart + length};
            pos = valueStart;
        } else {
            pos = valueStart + length;
        }
    }
}

bool RawHeader::keep(std::size_t index, const unsigned char* value, std::uint32_t length, const unsigned char* vr)
{
    const Field& field = m_fields[index];
    if (!isVr(vr, field.vr))
        return false;
    EncodedValue& out = m_values[index];
    m_present[index] = 1;
    if (isVr(vr, "SQ")) {
        out.bytes = {};
        return true;
    }
    std::string_view bytes(reinterpret_cast<const char*>(value), length);
    if (length % 2 != 0)
        return false;
    if (isVr(vr, "US") || isVr(vr, "UL")) {
        out.bytes = bytes;
        return true;
    }
    if (!has(field.vr, Text))
        return false;
    // DCMTK drops the padding at the end (NUL for UIDs, else spaces) and every white space in
    // a UID.
    const bool uid = isVr(vr, "UI");
    // Nearly every UID is digits and dots, padded by one NUL to an even length: what the
    // checks below take as it is.
    if (uid) {
        const std::string_view unpadded = bytes.empty() || bytes.back() != '\0' ? bytes : bytes.substr(0, length - 1);
        if (std::all_of(unpadded.begin(), unpadded.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; })) {
            out.bytes = unpadded;
            return true;
        }
    }
    while (!bytes.empty() && (bytes.back() == ' ' || (uid && (bytes.back() == '\0' || isWhiteSpace(bytes.back())))))
        bytes.remove_suffix(1);
    if (bytes.find('\0') != std::string_view::npos)
        return false;
    if (uid) {
        if (std::any_of(bytes.begin(), bytes.end(), isWhiteSpace))
            return false;
    } else if (!bytes.empty() && bytes.front() == ' ') {
        return false;
    } else if (!has(field.vr, SingleValued)) {
        // Spaces around one of several values would be trimmed differently by each VR.
        for (std::size_t p = bytes.find('\\'); p != std::string_view::npos; p = bytes.find('\\', p + 1))
            if ((p > 0 && bytes[p - 1] == ' ') || (p + 1 < bytes.size() && bytes[p + 1] == ' '))
                return false;
    }
    out.bytes = bytes;
    return true;
}

// When the data set declares a character set other than UTF-8 or ASCII, DCMTK's reading
// converts its texts: they are taken here only when that conversion leaves them as they are.
bool RawHeader::charsetAllowsValues() const
{
    if (!m_hasCharset)
        return true;
    std::string_view declared = m_charset.bytes;
    while (!declared.empty() && declared.back() == ' ')
        declared.remove_suffix(1);
    // Read as the values are: DCMTK trims the declaration before it is looked at.
    if (declared.find('\0') != std::string_view::npos || (!declared.empty() && declared.front() == ' ') ||
        declared.find(" \\") != std::string_view::npos || declared.find("\\ ") != std::string_view::npos)
        return false;
    if (!Utils::needsUtf8Conversion(std::string(declared)))
        return true;
    for (std::size_t start = 0;;) {
        const std::size_t end = declared.find('\\', start);
        std::string_view term = declared.substr(start, end == std::string_view::npos ? end : end - start);
        while (!term.empty() && term.front() == ' ')
            term.remove_prefix(1);
        while (!term.empty() && term.back() == ' ')
            term.remove_suffix(1);
        if (!keepsAscii(term))
            return false;
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (!m_present[i] || !has(m_fields[i].vr, CharsetText))
            continue;
        for (const char c : m_values[i].bytes)
            if (static_cast<unsigned char>(c) >= 0x80 || c == '\x1b')
                return false;
    }
    return true;
}

}  // namespace Dravelin::Dicom
