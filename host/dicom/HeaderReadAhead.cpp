#include "host/dicom/HeaderReadAhead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    fileSize = static_cast<std::size_t>(info.st_size);
    out.resize(std::min(fileSize, bytes));
    std::size_t filled = 0;
    while (filled < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + filled, out.size() - filled, static_cast<off_t>(filled));
        if (n <= 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(filled);
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
    t_handedOut.swap(r.bytes);
    return &t_handedOut;
}

}  // namespace Dravelin::Dicom
