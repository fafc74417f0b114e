#include "host/dicom/HeaderReadAhead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace Dravelin::Dicom {

namespace {

struct ReadAhead
{
    std::string path;
    std::vector<char> bytes;
    std::size_t fileSize = 0;
    std::chrono::steady_clock::time_point readAt;
    bool valid = false;
};

// Buffers stay allocated per thread: a fresh buffer per file costs page faults.
thread_local ReadAhead t_readAhead;
thread_local std::vector<char> t_handedOut;

constexpr auto kFreshFor = std::chrono::seconds(1);

}  // namespace

bool HeaderReadAhead::readStart(const std::string& path, std::size_t bytes, std::vector<char>& out,
                                std::size_t& fileSize, int folder, const char* name)
{
    // Without blocking: opening a FIFO would wait for a writer.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    const int fd = folder >= 0 && name ? ::openat(folder, name, flags) : ::open(path.c_str(), flags);
    if (fd < 0)
        return false;
    // One byte more than asked says whether the file ends within `bytes`: a stat per file
    // cost a folder scan some 6% of its time. What cannot be read (a folder, a FIFO) fails here.
    out.resize(bytes + 1);
    std::size_t filled = 0;
    bool failed = false;
    while (filled < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + filled, out.size() - filled, static_cast<off_t>(filled));
        if (n < 0 && errno == EINTR)
            continue;
        failed = n < 0;
        if (n <= 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (failed && filled == 0)
        return false;
    fileSize = failed || filled > bytes ? kLongerThanRead : filled;
    out.resize(std::min(filled, bytes));
    return true;
}

const std::vector<char>* HeaderReadAhead::read(const std::string& path, std::size_t bytes, std::size_t* fileSize,
                                               int folder, const char* name)
{
    ReadAhead& r = t_readAhead;
    r.valid = false;
    std::size_t size = 0;
    if (!readStart(path, bytes, r.bytes, size, folder, name))
        return nullptr;
    r.path = path;
    r.fileSize = size;
    r.readAt = std::chrono::steady_clock::now();
    // A short read (the file shrank meanwhile) is not worth keeping.
    r.valid = r.bytes.size() == std::min(size, bytes);
    if (fileSize)
        *fileSize = size;
    return &r.bytes;
}

const std::vector<char>* HeaderReadAhead::take(const std::string& path, std::size_t& fileSize)
{
    ReadAhead& r = t_readAhead;
    if (!r.valid)
        return nullptr;
    r.valid = false;
    if (r.path != path || std::chrono::steady_clock::now() - r.readAt > kFreshFor)
        return nullptr;
    fileSize = r.fileSize;
    if (fileSize == kLongerThanRead) {
        // Only the files a scan leaves to DCMTK get here: its structure check needs the size.
        struct stat info;
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return nullptr;
        fileSize = static_cast<std::size_t>(info.st_size);
    }
    t_handedOut.swap(r.bytes);
    return &t_handedOut;
}

}  // namespace Dravelin::Dicom
