#include "tests/support/SmallFileSystem.h"

#include <QFile>

#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace Dravelin::Test {

SmallFileSystem::SmallFileSystem(int kib)
{
    const std::string options = "size=" + std::to_string(kib) + "k,mode=0777";
    m_mounted = ::geteuid() == 0 &&
                ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, options.c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

bool SmallFileSystem::leaveFree(long long bytesLeft)
{
    ::unlink(QFile::encodeName(m_dir.file(".filler")).constData());
    struct statvfs fs;
    if (!m_mounted || ::statvfs(QFile::encodeName(m_dir.path()).constData(), &fs) != 0)
        return false;
    const long long fill = static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize) - bytesLeft;
    if (fill < 0)
        return false;
    const int fd = ::open(QFile::encodeName(m_dir.file(".filler")).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const std::vector<char> zeros(static_cast<size_t>(fill));
    const bool ok = ::write(fd, zeros.data(), zeros.size()) == static_cast<ssize_t>(zeros.size());
    ::close(fd);
    return ok;
}

}  // namespace Dravelin::Test
