#include "host/dicom/StructureCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>

namespace Dravelin::Dicom {

namespace {

constexpr std::size_t kNoEnd = std::numeric_limits<std::size_t>::max();
constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFFu;
constexpr std::size_t kWindow = 64 * 1024;

// Random access to the bytes of a buffer or of a file (read through a small window, so that
// skipping large values costs nothing).
class Source
{
public:
    Source(const char* data, std::size_t size) : m_data(reinterpret_cast<const unsigned char*>(data)), m_size(size) {}
    // A file of `size` bytes whose first bytes may be at hand already; it is opened only when
    // the walk goes past them.
    Source(const std::string& path, int fd, std::size_t size, const std::vector<char>* prefix)
        : m_path(&path), m_fd(fd), m_size(size)
    {
        if (prefix) {
            m_data = reinterpret_cast<const unsigned char*>(prefix->data());
            m_prefix = std::min(prefix->size(), size);
        }
    }
    ~Source()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    std::size_t size() const { return m_size; }

    // `n` bytes at `pos`, or null when the data ends (or cannot be read) before.
    const unsigned char* at(std::size_t pos, std::size_t n)
    {
        if (pos > m_size || n > m_size - pos)
            return nullptr;
        if (!m_path || pos + n <= m_prefix)
            return m_data + pos;
        if (pos < m_windowStart || pos + n > m_windowStart + m_window.size()) {
            if (m_fd < 0)
                m_fd = ::open(m_path->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (m_fd < 0)
                return nullptr;
            m_window.resize(std::max(kWindow, n));
            std::size_t filled = 0;
            while (filled < m_window.size()) {
                const ssize_t r =
                    ::pread(m_fd, m_window.data() + filled, m_window.size() - filled, static_cast<off_t>(pos + filled));
                if (r < 0 && errno == EINTR)
                    continue;
                if (r <= 0)
                    break;
                filled += static_cast<std::size_t>(r);
            }
            m_window.resize(filled);
            m_windowStart = pos;
            if (filled < n)
                return nullptr;
        }
        return m_window.data() + (pos - m_windowStart);
    }

private:
    const std::string* m_path = nullptr;
    int m_fd = -1;
    const unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_prefix = 0;
    std::vector<unsigned char> m_window;
    std::size_t m_windowStart = 0;
};

enum class Encoding { ImplicitLittle, ImplicitBig, ExplicitLittle, ExplicitBig, Deflated, Unknown };

std::uint16_t read16(const unsigned char* p, bool big)
{
    return big ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
}

std::uint32_t read32(const unsigned char* p, bool big)
{
    return big ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3]
               : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

bool isVrLetters(const unsigned char* p)
{
    return p[0] >= 'A' && p[0] <= 'Z' && p[1] >= 'A' && p[1] <= 'Z';
}

// DCMTK reads any other two bytes, letters or not, as a VR with a 32-bit length.
bool isStandardVr(const unsigned char* p)
{
    static constexpr std::string_view kStandard[] = {
        "AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL", "IS", "LO", "LT", "OB", "OD", "OF", "OL", "OV",
        "OW", "PN", "SH", "SL", "SQ", "SS", "ST", "SV", "TM", "UC", "UI", "UL", "UN", "UR", "US", "UT", "UV"};
    const std::string_view vr(reinterpret_cast<const char*>(p), 2);
    return std::find(std::begin(kStandard), std::end(kStandard), vr) != std::end(kStandard);
}

// VRs whose explicit header has two reserved bytes and a 32-bit length.
bool hasLongLength(const unsigned char* p)
{
    static constexpr std::string_view kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                                 "SV", "UC", "UN", "UR", "UT", "UV"};
    const std::string_view vr(reinterpret_cast<const char*>(p), 2);
    return std::find(std::begin(kLong), std::end(kLong), vr) != std::end(kLong);
}

struct Frame
{
    enum Kind { Sequence, Item, Fragments };
    Kind kind;
    std::size_t limit;  // where the innermost defined-length container around it ends
    Encoding encoding;
};

struct Walk
{
    std::string problem;
    bool truncated = false;
    bool sawElement = false;
    bool tooDeep = false;
};

Walk endsInside(Walk& w)
{
    w.problem = "the data ends inside an element";
    w.truncated = true;
    return w;
}

// Walks elements from `start` to the end of `source`.
Walk walk(Source& source, std::size_t start, Encoding encoding, bool untilPixelData,
          const StructureCheck::Limits& limits)
{
    Walk w;
    std::vector<Frame> frames;
    std::size_t pos = start;
    const std::size_t size = source.size();
    for (;;) {
        while (!frames.empty() && pos >= frames.back().limit)
            frames.pop_back();
        const Encoding current = frames.empty() ? encoding : frames.back().encoding;
        const std::size_t limit = frames.empty() ? size : std::min(size, frames.back().limit);
        if (!w.sawElement && pos - start >= limits.elementSearchBytes) {
            w.problem = "no DICOM element in its first " + std::to_string(limits.elementSearchBytes) + " bytes";
            return w;
        }
        if (pos >= size) {
            w.truncated = !frames.empty();
            break;
        }
        const bool big = current == Encoding::ExplicitBig || current == Encoding::ImplicitBig;
        const bool implicit = current == Encoding::ImplicitLittle || current == Encoding::ImplicitBig;
        const unsigned char* p = source.at(pos, 8);
        if (!p) {
            w.truncated = true;
            break;
        }
        const std::uint16_t group = read16(p, big);
        const std::uint16_t element = read16(p + 2, big);
        const bool inFragments = !frames.empty() && frames.back().kind == Frame::Fragments;

        if (group == 0xFFFE) {
            const std::uint32_t length = read32(p + 4, big);
            pos += 8;
            if (element == 0xE000) {
                if (inFragments) {
                    if (length != kUndefinedLength && length > size - std::min(size, pos))
                        return endsInside(w);
                    if (length == kUndefinedLength || length > limit - std::min(limit, pos)) {
                        w.truncated = limit == size;
                        pos = limit;
                        continue;
                    }
                    pos += length;
                    continue;
                }
                const std::size_t end = length == kUndefinedLength ? kNoEnd : pos + length;
                frames.push_back({Frame::Item, std::min(end, frames.empty() ? kNoEnd : frames.back().limit), current});
            } else if (element == 0xE00D) {
                if (!frames.empty() && frames.back().kind == Frame::Item)
                    frames.pop_back();
            } else if (element == 0xE0DD) {
                if (!frames.empty() && frames.back().kind == Frame::Item)
                    frames.pop_back();  // an item left open
                if (!frames.empty() && frames.back().kind != Frame::Item)
                    frames.pop_back();
            }
            if (static_cast<int>(frames.size()) > limits.maximumDepth) {
                w.problem = "sequences nested more than " + std::to_string(limits.maximumDepth / 2) + " levels deep";
                w.tooDeep = true;
                return w;
            }
            continue;
        }
        if (inFragments) {
            // Only items belong in encapsulated pixel data: nothing DCMTK would read further.
            pos = limit;
            w.truncated = limit == size;
            continue;
        }
        if (group != 0)
            w.sawElement = true;

        std::uint32_t length = 0;
        std::size_t header = 8;
        bool unknownVr = false;
        bool sequenceVr = false;
        if (implicit) {
            length = read32(p + 4, big);
        } else if (isStandardVr(p + 4)) {
            sequenceVr = p[4] == 'S' && p[5] == 'Q';
            unknownVr = p[4] == 'U' && p[5] == 'N';
            if (hasLongLength(p + 4)) {
                const unsigned char* q = source.at(pos, 12);
                if (!q) {
                    w.truncated = true;
                    break;
                }
                length = read32(q + 8, big);
                header = 12;
            } else {
                length = read16(p + 6, big);
            }
        } else {
            // DCMTK reads an unknown VR with a 32-bit length.
            const unsigned char* q = source.at(pos, 12);
            if (!q) {
                w.truncated = true;
                break;
            }
            length = read32(q + 8, big);
            header = 12;
            unknownVr = true;
        }

        const bool pixelData = frames.empty() && group == 0x7FE0 && element == 0x0010;
        if (pixelData && untilPixelData)
            break;
        const std::size_t valueStart = pos + header;
        if (length == kUndefinedLength) {
            Frame frame{Frame::Sequence, frames.empty() ? kNoEnd : frames.back().limit, current};
            if (group == 0x7FE0 && element == 0x0010 && !sequenceVr)
                frame.kind = Frame::Fragments;
            else if (unknownVr)
                frame.encoding = Encoding::ImplicitLittle;
            frames.push_back(frame);
            pos = valueStart;
        } else if (valueStart > limit || length > limit - valueStart) {
            // DCMTK may allocate a value before it finds the data too short (always so in
            // deflated data): refuse one that runs past the end rather than let it reserve
            // gigabytes. Header reads stop before the pixel data, so a file whose pixel data
            // was cut still gives its header.
            if (valueStart > size || length > size - valueStart)
                return endsInside(w);
            // A value that runs past its container ends that container where DCMTK stops too.
            w.truncated = limit == size;
            if (limit == size)
                break;
            pos = limit;
            continue;
        } else {
            // A defined-length value that starts with an item is read as a sequence when the
            // dictionary says so; walking it costs little and never misses one.
            const bool pixels = group == 0x7FE0 && element == 0x0010;
            const unsigned char* first = length >= 8 && !pixels ? source.at(valueStart, 4) : nullptr;
            const bool itemFollows =
                first && read16(first, big && !unknownVr) == 0xFFFE && read16(first + 2, big && !unknownVr) == 0xE000;
            if (sequenceVr || itemFollows) {
                const Encoding inner = unknownVr ? Encoding::ImplicitLittle : current;
                frames.push_back({Frame::Sequence, valueStart + length, inner});
                pos = valueStart;
            } else {
                pos = valueStart + length;
            }
        }
        if (static_cast<int>(frames.size()) > limits.maximumDepth) {
            w.problem = "sequences nested more than " + std::to_string(limits.maximumDepth / 2) + " levels deep";
            w.tooDeep = true;
            return w;
        }
    }
    if (!w.sawElement)
        w.problem = "no DICOM element";
    return w;
}

std::string_view trimmedUid(const unsigned char* p, std::size_t length)
{
    std::string_view s(reinterpret_cast<const char*>(p), length);
    while (!s.empty() && (s.back() == '\0' || s.back() == ' '))
        s.remove_suffix(1);
    return s;
}

Encoding encodingOf(std::string_view uid)
{
    if (uid == "1.2.840.10008.1.2")
        return Encoding::ImplicitLittle;
    if (uid == "1.2.840.10008.1.2.2")
        return Encoding::ExplicitBig;
    if (uid == "1.2.840.10008.1.2.1.99")
        return Encoding::Deflated;
    return uid.empty() ? Encoding::Unknown : Encoding::ExplicitLittle;
}

// Skips the file meta group (at 132 after a preamble, or at 0 without one): `start` ends on
// the data set, and the declared transfer syntax decides its encoding.
Encoding readMeta(Source& source, std::size_t& start)
{
    const unsigned char* magic = source.at(128, 4);
    start = magic && std::memcmp(magic, "DICM", 4) == 0 ? 132 : 0;
    std::string uid;
    bool meta = false;
    for (;;) {
        const unsigned char* p = source.at(start, 8);
        if (!p || read16(p, false) != 0x0002)
            break;
        meta = true;
        std::uint32_t length;
        std::size_t header = 8;
        if (isStandardVr(p + 4) && !hasLongLength(p + 4)) {
            length = read16(p + 6, false);
        } else if (isVrLetters(p + 4)) {
            const unsigned char* q = source.at(start, 12);
            if (!q)
                break;
            length = read32(q + 8, false);
            header = 12;
        } else {
            length = read32(p + 4, false);
        }
        if (length == kUndefinedLength)
            break;
        if (read16(p + 2, false) == 0x0010 && length <= 64)
            if (const unsigned char* value = source.at(start + header, length))
                uid = trimmedUid(value, length);
        start += header + length;
    }
    return meta ? encodingOf(uid) : Encoding::Unknown;
}

StructureCheck::Result check(Source& source, bool untilPixelData, const StructureCheck::Limits& limits)
{
    StructureCheck::Result result;
    if (source.size() == 0) {
        result.problem = "the file is empty";
        return result;
    }
    std::size_t start = 0;
    const Encoding encoding = readMeta(source, start);
    if (encoding == Encoding::Deflated) {
        std::vector<char> compressed;
        if (start < source.size()) {
            const unsigned char* p = source.at(start, source.size() - start);
            if (!p) {
                result.truncated = true;
                return result;
            }
            compressed.assign(p, p + (source.size() - start));
        }
        bool complete = false;
        const std::optional<std::string> inflated =
            StructureCheck::inflate(compressed.data(), compressed.size(), limits.maximumInflatedBytes, &complete);
        if (!inflated) {
            result.inflatesTooFar = true;
            result.problem =
                "its deflated data inflates to more than " + std::to_string(limits.maximumInflatedBytes >> 20) + " MiB";
            return result;
        }
        Source inner(inflated->data(), inflated->size());
        const Walk w = walk(inner, 0, Encoding::ExplicitLittle, untilPixelData, limits);
        result.problem = w.problem;
        result.truncated = w.truncated || !complete;
        result.tooDeep = w.tooDeep;
        return result;
    }
    if (encoding != Encoding::Unknown) {
        const Walk w = walk(source, start, encoding, untilPixelData, limits);
        result.problem = w.problem;
        result.truncated = w.truncated;
        result.tooDeep = w.tooDeep;
        // Some writers encode the data set in implicit VR whatever the meta header declares:
        // say so rather than calling the file truncated.
        const unsigned char* first = source.at(start, 6);
        if (!result.ok() && encoding == Encoding::ExplicitLittle && first && !isVrLetters(first + 4) &&
            walk(source, start, Encoding::ImplicitLittle, untilPixelData, limits).problem.empty()) {
            result.problem = "its data set is encoded in implicit VR although its transfer syntax declares explicit VR";
            result.truncated = false;
            result.tooDeep = false;
        }
        return result;
    }
    // Undeclared: DCMTK guesses from the first element (explicit when a VR follows the tag; the
    // byte order that gives the smaller group). Its guess decides; any other reading that nests
    // too deep is refused as well.
    const unsigned char* first = source.at(start, 6);
    Encoding guess = Encoding::ImplicitLittle;
    if (first) {
        const bool little = read16(first, false) <= read16(first, true);
        const bool explicitVr = isVrLetters(first + 4);
        guess = explicitVr ? (little ? Encoding::ExplicitLittle : Encoding::ExplicitBig)
                           : (little ? Encoding::ImplicitLittle : Encoding::ImplicitBig);
    }
    const Walk chosen = walk(source, start, guess, untilPixelData, limits);
    result.problem = chosen.problem;
    result.truncated = chosen.truncated;
    result.tooDeep = chosen.tooDeep;
    for (const Encoding other :
         {Encoding::ImplicitLittle, Encoding::ImplicitBig, Encoding::ExplicitLittle, Encoding::ExplicitBig}) {
        if (other == guess || !result.problem.empty())
            continue;
        const Walk w = walk(source, start, other, untilPixelData, limits);
        if (w.tooDeep) {
            result.problem = w.problem;
            result.tooDeep = true;
        }
    }
    return result;
}

}  // namespace

StructureCheck::Result StructureCheck::checkBytes(const char* data, std::size_t size, bool untilPixelData,
                                                  const Limits& limits)
{
    Source source(data, size);
    return check(source, untilPixelData, limits);
}

StructureCheck::Result StructureCheck::checkFile(const std::string& path, bool untilPixelData,
                                                 const std::vector<char>* prefix, std::size_t fileSize,
                                                 const Limits& limits)
{
    if (prefix) {
        Source source(path, -1, fileSize, prefix);
        return check(source, untilPixelData, limits);
    }
    Result result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result.problem = std::strerror(errno);
        return result;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        result.problem = "not a regular file";
        return result;
    }
    Source source(path, fd, static_cast<std::size_t>(info.st_size), nullptr);
    return check(source, untilPixelData, limits);
}

std::optional<std::string> StructureCheck::inflate(const char* data, std::size_t size, std::size_t maximum,
                                                   bool* complete)
{
    if (complete)
        *complete = false;
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return std::string();
    std::string out;
    std::vector<char> chunk(256 * 1024);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    std::size_t remaining = size;
    int status = Z_OK;
    while (status == Z_OK) {
        if (stream.avail_in == 0 && remaining > 0) {
            const auto take = static_cast<uInt>(std::min<std::size_t>(remaining, 1u << 30));
            stream.avail_in = take;
            remaining -= take;
        }
        stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
        stream.avail_out = static_cast<uInt>(chunk.size());
        status = ::inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = chunk.size() - stream.avail_out;
        if (out.size() + produced > maximum) {
            inflateEnd(&stream);
            return std::nullopt;
        }
        out.append(chunk.data(), produced);
        // Input that ends early (or stops making progress) gives what came out so far.
        if (status == Z_BUF_ERROR && produced > 0)
            status = Z_OK;
    }
    inflateEnd(&stream);
    if (complete)
        *complete = status == Z_STREAM_END;
    return out;
}

}  // namespace Dravelin::Dicom
