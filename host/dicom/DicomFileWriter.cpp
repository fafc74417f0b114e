#include "host/dicom/DicomFileWriter.h"

#include "host/dicom/CheckedDcmOutput.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Dravelin::Dicom {

namespace {

// Writes all of `size` bytes to `fd`; the system's reason when it cannot.
std::string writeAll(int fd, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0)
            done += size_t(n);
        else if (n == 0)
            return std::strerror(EIO);
        else if (errno != EINTR)
            return std::strerror(errno);
    }
    return {};
}

QString temporaryName()
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    QString name = QStringLiteral(".dravelin-");
    for (int i = 0; i < 12; ++i)
        name += QLatin1Char(digits[QRandomGenerator::global()->bounded(36)]);
    return name + QStringLiteral(".part");
}

// Every file of `fds` on disk, data and metadata; false when any may not be. A file's own
// fdatasync on a new file commits the file system's journal, once per file; syncfs commits it
// once per file system for all of them (and whatever else is waiting to be written there, which
// on a busy disk costs more than a few fdatasyncs, so small batches keep them).
bool syncAll(const std::vector<int>& fds)
{
    constexpr size_t kSmallBatch = 4;
    bool ok = true;
    if (fds.size() <= kSmallBatch) {
        for (const int fd : fds)
            ok = ::fdatasync(fd) == 0 && ok;
        return ok;
    }
#ifdef __linux__
    std::vector<dev_t> devices;
    for (const int fd : fds) {
        struct stat info;
        if (::fstat(fd, &info) != 0)
            return false;
        if (std::find(devices.begin(), devices.end(), info.st_dev) != devices.end())
            continue;
        devices.push_back(info.st_dev);
        ok = ::syncfs(fd) == 0 && ok;
    }
    return ok;
#else
    for (const int fd : fds)
        ok = ::fdatasync(fd) == 0 && ok;
    return ok;
#endif
}

bool fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

}  // namespace

bool DicomFileWriter::isTemporaryName(const QString& fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.dravelin-[0-9a-z]{12}\\.part$"));
    return pattern.match(fileName).hasMatch();
}

int DicomFileWriter::removeStaleTemporaries(const QString& folder)
{
    int removed = 0;
    QDirIterator it(folder, {QStringLiteral(".dravelin-*.part")}, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isTemporaryName(it.fileName()) && QFile::remove(path))
            ++removed;
    }
    return removed;
}

bool DicomFileWriter::save(DcmFileFormat& file, const QString& target, E_TransferSyntax xfer, E_FileWriteMode mode,
                           std::string* error)
{
    Batch batch;
    if (!batch.add(file, target, xfer, mode, error))
        return false;
    const auto failures = batch.commit();
    return failures.empty() || fail(error, failures.front().error);
}

DicomFileWriter::Batch::~Batch()
{
    discard();
}

bool DicomFileWriter::Batch::add(DcmFileFormat& file, const QString& target, E_TransferSyntax xfer,
                                 E_FileWriteMode mode, std::string* error)
{
    const QByteArray targetPath = QFile::encodeName(target);
    const QByteArray temporary = QFile::encodeName(QFileInfo(target).absolutePath() + "/" + temporaryName());
    DcmDataset* dataset = file.getDataset();
    if (xfer == EXS_Unknown && dataset)
        xfer = dataset->getOriginalXfer();
    if (xfer == EXS_Unknown)
        xfer = EXS_LittleEndianExplicit;
    if (!file.canWriteXfer(xfer))
        return fail(error, std::string("cannot be written as ") + DcmXfer(xfer).getXferName());

    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(error, std::strerror(errno));
    struct stat existing;
    if (::stat(targetPath.constData(), &existing) == 0) {
        // Owner and group too where allowed (only the owner's own group, or anything for root).
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0)
            (void)!::fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
        ::fchmod(fd, existing.st_mode & 07777);
    }

    const std::string problem =
        CheckedDcmOutput::write(file, xfer, EET_UndefinedLength, mode,
                                [fd](const char* data, size_t size) { return writeAll(fd, data, size); });
    if (!problem.empty()) {
        ::close(fd);
        ::unlink(temporary.constData());
        return fail(error, problem);
    }
#ifdef __linux__
    // Start the writeback now, so that the disk works while the next files are converted and the
    // sync in commit() mostly finds it done.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    m_entries.push_back({fd, temporary, targetPath});
    return true;
}

void DicomFileWriter::Batch::discard()
{
    for (const Entry& entry : m_entries) {
        ::close(entry.fd);
        ::unlink(entry.temporary.constData());
    }
    m_entries.clear();
}

std::vector<DicomFileWriter::Batch::Failure> DicomFileWriter::Batch::commit(const std::vector<int>& alsoDurable)
{
    std::vector<Failure> failures;
    std::vector<Entry> entries;
    entries.swap(m_entries);
    // Every temporary durable before any rename, so no target ever names data that is not on disk.
    std::vector<int> errors(entries.size(), 0);
    std::vector<int> fds;
    for (const Entry& entry : entries)
        fds.push_back(entry.fd);
    fds.insert(fds.end(), alsoDurable.begin(), alsoDurable.end());
    if (!syncAll(fds))
        for (size_t i = 0; i < entries.size(); ++i)  // which one failed: each file reports its own error
            if (::fdatasync(entries[i].fd) != 0)
                errors[i] = errno;
    for (size_t i = 0; i < entries.size(); ++i)
        if (::close(entries[i].fd) != 0 && errors[i] == 0)
            errors[i] = errno;
    std::vector<QByteArray> folders;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        if (errors[i] == 0 && std::rename(entry.temporary.constData(), entry.target.constData()) != 0)
            errors[i] = errno;
        if (errors[i] != 0) {
            ::unlink(entry.temporary.constData());
            failures.push_back({i, QFile::decodeName(entry.target), std::strerror(errors[i])});
            continue;
        }
        const int slash = entry.target.lastIndexOf('/');
        const QByteArray folder = slash > 0 ? entry.target.left(slash) : QByteArray(slash == 0 ? "/" : ".");
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    // The renames themselves reach the disk: a crash after commit() keeps the new names. A failure
    // here leaves each file whole under its name or its old one, so it is not counted against it.
    for (const QByteArray& folder : folders) {
        const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return failures;
}

}  // namespace Dravelin::Dicom
