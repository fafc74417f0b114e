#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Dravelin::Dicom {

// The first bytes of the file whose DICOM header was just checked on this thread. A folder scan
// checks a file's preamble and then parses its header; keeping the bytes of the check spares
// the parse a second open, stat, read and close (a tenth of a scan's time on small files).
// The bytes are handed out once, only for the same path, and only for a second after the read.
class HeaderReadAhead
{
public:
    // How much a header parse reads first: most headers end within it.
    static constexpr std::size_t DefaultBytes = 8 * 1024;

    // What a read gives as the file's size when the file goes on past the bytes read.
    static constexpr std::size_t kLongerThanRead = ~std::size_t(0);

    // Reads up to `bytes` from the start of `path` and keeps them for this thread. Returns
    // them, or null when the file cannot be opened or read (a folder, a FIFO); `fileSize` (when
    // given) receives the file's size, or kLongerThanRead when it is longer than `bytes`. With a descriptor of the
    // file's folder (`folder`, and `name` the file's name in it) the file is opened relative to it: no path walk from
    // the root.
    static const std::vector<char>* read(const std::string& path, std::size_t bytes = DefaultBytes,
                                         std::size_t* fileSize = nullptr, int folder = -1, const char* name = nullptr);
    // Reads the first min(file size, `bytes`) bytes of a file into `out` (fewer when the read
    // fails part way, and then `fileSize` is kLongerThanRead); false when the file cannot be
    // opened or read. `fileSize` as read() gives it.
    static bool readStart(const std::string& path, std::size_t bytes, std::vector<char>& out, std::size_t& fileSize,
                          int folder = -1, const char* name = nullptr);
    // The bytes most recently read on this thread, if they are of `path` and still fresh;
    // `fileSize` receives the file's size (stat when the read did not reach its end). Forgets
    // them either way.
    static const std::vector<char>* take(const std::string& path, std::size_t& fileSize);
};

}  // namespace Dravelin::Dicom
