#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace Dravelin::Dicom {

// What StructureCheck lets through.
struct StructureLimits
{
    // Sequences and items open at once, counted together (two per sequence level).
    int maximumDepth = 200;
    // The data must hold an element of a group other than 0000 within this many bytes.
    std::size_t elementSearchBytes = 4096;
    // Deflated data may inflate to at most this size.
    std::size_t maximumInflatedBytes = std::size_t(512) << 20;
};

// Looks over encoded DICOM data before DCMTK parses it, and refuses what would crash or stall
// the parser: DCMTK reads nested sequences recursively (a few thousand levels overflow the
// stack), walks a file of zeros element by element to its end, and inflates deflated data
// without limit.
//
// The walk decodes element headers only and skips values, without recursion. Where the
// encoding is not declared (no file meta group) it walks the data in every encoding DCMTK could
// choose, and refuses when any of them nests too deep. Defined-length values that begin like a
// sequence item are walked as sequences: DCMTK reads them so when its dictionary says SQ.
class StructureCheck
{
public:
    using Limits = StructureLimits;

    struct Result
    {
        // Empty when the data may be given to DCMTK; else why not, as a phrase for a message.
        std::string problem;
        // The data ends inside an element or an open sequence or item.
        bool truncated = false;
        // Refused for nesting deeper than the limit, or for inflating past it.
        bool tooDeep = false;
        bool inflatesTooFar = false;

        bool ok() const { return problem.empty(); }
    };

    // Data in memory, starting at the beginning of a file (or of a WADO part). With
    // `untilPixelData` the walk stops at the top-level pixel data, where a header read stops.
    static Result checkBytes(const char* data, std::size_t size, bool untilPixelData, const Limits& limits = {});

    // A file. Only regular files pass (a FIFO would block the reader); it is opened without
    // blocking. `prefix` (optional) holds its first bytes, read from a regular file of
    // `fileSize` bytes: the file is then opened only when the walk goes past them.
    static Result checkFile(const std::string& path, bool untilPixelData, const std::vector<char>* prefix = nullptr,
                            std::size_t fileSize = 0, const Limits& limits = {});

    // Raw deflate data inflated, or nothing when it inflates past `maximum` bytes. Data that
    // stops inflating early (corrupt or truncated) gives what came out before, and `complete`
    // (when given) false.
    static std::optional<std::string> inflate(const char* data, std::size_t size, std::size_t maximum,
                                              bool* complete = nullptr);
};

}  // namespace Dravelin::Dicom
