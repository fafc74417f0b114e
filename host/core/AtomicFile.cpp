#include "host/core/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Dravelin {

AtomicFile::AtomicFile(QString target) : m_target(std::move(target)) {}

AtomicFile::~AtomicFile()
{
    if (!m_committed)
        removeTemporary();
}

QString AtomicFile::temporaryName()
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    QString name = QStringLiteral(".dravelin-");
    for (int i = 0; i < 12; ++i)
        name += QLatin1Char(digits[QRandomGenerator::global()->bounded(36)]);
    return name + QStringLiteral(".part");
}

bool AtomicFile::fail(int error)
{
    if (m_reason.isEmpty())
        m_reason = QString::fromLocal8Bit(std::strerror(error));
    removeTemporary();
    return false;
}

void AtomicFile::removeTemporary()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    m_temporary.clear();
}

bool AtomicFile::open()
{
    if (failed())
        return false;
    const QString folder = QFileInfo(m_target).absolutePath();
    for (int attempt = 0; attempt < 8; ++attempt) {
        m_temporary = QFile::encodeName(folder + QLatin1Char('/') + temporaryName());
        m_fd = ::open(m_temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            break;
        const int error = errno;
        m_temporary.clear();
        if (error != EEXIST)
            return fail(error);
    }
    if (m_fd < 0)
        return fail(EEXIST);
    struct stat existing;
    if (::stat(QFile::encodeName(m_target).constData(), &existing) == 0)
        ::fchmod(m_fd, existing.st_mode & 07777);
    return true;
}

bool AtomicFile::write(const void* data, std::size_t size)
{
    if (failed() || m_fd < 0)
        return false;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : EIO);
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFile::commit()
{
    if (failed() || m_fd < 0)
        return false;
    // Space that the file system only finds missing when the data is written back (network
    // and thin-provisioned storage) shows here, before the target is touched.
    if (::fsync(m_fd) != 0)
        return fail(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail(errno);
    if (std::rename(m_temporary.constData(), QFile::encodeName(m_target).constData()) != 0)
        return fail(errno);
    m_temporary.clear();
    m_committed = true;
    // The rename reaches the disk too; the file is complete under one name or the other anyway.
    const int dir =
        ::open(QFile::encodeName(QFileInfo(m_target).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void AtomicFile::discard(const QString& reason)
{
    if (m_reason.isEmpty())
        m_reason = reason.isEmpty() ? QStringLiteral("discarded") : reason;
    removeTemporary();
}

QString AtomicFile::errorString() const
{
    return QStringLiteral("Cannot write '%1': %2").arg(m_target, m_reason);
}

bool AtomicFile::writeWhole(const QString& target, const QByteArray& bytes, QString* error)
{
    AtomicFile file(target);
    if (file.open() && file.write(bytes) && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

}  // namespace Dravelin
