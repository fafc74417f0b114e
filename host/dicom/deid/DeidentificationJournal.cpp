#include "host/dicom/deid/DeidentificationJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Dravelin::Dicom {

namespace {

const char kHeader[] =
    "# An unfinished de-identification run by dravelin-dicom into this folder.\n"
    "# It maps the original UIDs and Patient IDs to the new ones: it RE-IDENTIFIES the patients.\n"
    "# Finish the run with `dravelin-dicom deidentify INPUT OUTPUT --resume` (or the DICOM Editor's\n"
    "# Resume); the finished run removes this file. Deleting it abandons the run: a new run gives\n"
    "# new identifiers that do not match those of the files already written.\n";

// The raw bytes, so that values that are not UTF-8 come back as they were.
QByteArray encode(const QByteArray& value)
{
    return value.toPercentEncoding("/");
}

QByteArray encode(const std::string& value)
{
    return encode(QByteArray(value.data(), int(value.size())));
}

QByteArray line(const char* kind, const QByteArray& a, const QByteArray& b = QByteArray())
{
    QByteArray text = QByteArray(kind) + '\t' + a;
    if (!b.isNull())
        text += '\t' + b;
    return text + '\n';
}

QByteArray entryLine(const UidMap::Entry& entry)
{
    return line(entry.kind == UidMap::Entry::Kind::Uid ? "uid" : "patient", encode(entry.original),
                encode(entry.replacement));
}

std::string decode(const QByteArray& field)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(field);
    return std::string(bytes.constData(), size_t(bytes.size()));
}

QString errorText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray& text)
{
    qint64 done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            return false;
    }
    return true;
}

void syncFolderOf(const QString& path)
{
    const int dir =
        ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace

QString DeidentificationJournal::fileName()
{
    return QStringLiteral("UNFINISHED-DEIDENTIFICATION.journal");
}

QString DeidentificationJournal::pathIn(const QString& folder)
{
    return QDir(folder).filePath(fileName());
}

bool DeidentificationJournal::existsIn(const QString& folder)
{
    return QFileInfo::exists(pathIn(folder));
}

DeidentificationJournal::DeidentificationJournal(int fd, QString path, long long size)
    : m_fd(fd), m_path(std::move(path)), m_size(size)
{
}

DeidentificationJournal::~DeidentificationJournal()
{
    if (m_fd >= 0) {
        ::fdatasync(m_fd);  // the last done records, so a resume need not check those files
        ::close(m_fd);
    }
}

std::unique_ptr<DeidentificationJournal> DeidentificationJournal::create(const QString& folder,
                                                                         const Settings& settings, QString* error)
{
    const QString path = pathIn(folder);
    if (!QDir().mkpath(folder)) {
        *error = "cannot create the folder " + folder;
        return nullptr;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + errorText();
        return nullptr;
    }
    ::fchmod(fd, 0600);  // whatever the umask
    std::unique_ptr<DeidentificationJournal> journal(new DeidentificationJournal(fd, path, 0));
    QByteArray text(kHeader);
    for (const auto& [name, value] : settings)
        text += line("setting", encode(name.toUtf8()), encode(value.toUtf8()));
    if (!journal->append(text, error) || ::fdatasync(fd) != 0) {
        if (error->isEmpty())
            *error = "cannot write " + path + ": " + errorText();
        journal->remove();
        return nullptr;
    }
    syncFolderOf(path);
    return journal;
}

std::unique_ptr<DeidentificationJournal> DeidentificationJournal::resume(const QString& folder,
                                                                         const Settings& settings, UidMap& uids,
                                                                         QString* error)
{
    const QString path = pathIn(folder);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + errorText();
        return nullptr;
    }
    QFile file;
    QByteArray content;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        content = file.readAll();
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        *error = "cannot read " + path;
        ::close(fd);
        return nullptr;
    }
    file.close();
    // A crash may have cut the last line short: everything after the last line feed goes.
    const long long whole = content.lastIndexOf('\n') + 1;
    std::unique_ptr<DeidentificationJournal> journal(new DeidentificationJournal(fd, path, whole));
    if (whole < content.size() && ::ftruncate(fd, whole) != 0) {
        *error = "cannot repair " + path + ": " + errorText();
        return nullptr;
    }
    ::lseek(fd, whole, SEEK_SET);

    Settings recorded;
    int number = 0;
    for (const QByteArray& text : content.left(int(whole)).split('\n')) {
        ++number;
        if (text.isEmpty() || text.startsWith('#'))
            continue;
        const QList<QByteArray> f = text.split('\t');
        const QByteArray& kind = f[0];
        if (kind == "uid" && f.size() == 3)
            uids.restore({UidMap::Entry::Kind::Uid, decode(f[1]), decode(f[2])});
        else if (kind == "patient" && f.size() == 3)
            uids.restore({UidMap::Entry::Kind::PatientId, decode(f[1]), decode(f[2])});
        else if (kind == "pending" && f.size() == 3)
            journal->m_pending[QString::fromStdString(decode(f[1]))] = decode(f[2]);
        else if (kind == "done" && f.size() == 2)
            journal->m_done.insert(QString::fromStdString(decode(f[1])));
        else if (kind == "setting" && f.size() == 3)
            recorded.emplace_back(QString::fromStdString(decode(f[1])), QString::fromStdString(decode(f[2])));
        else {
            *error = QStringLiteral("%1 is damaged at line %2").arg(path).arg(number);
            return nullptr;
        }
    }
    for (const auto& [name, value] : settings) {
        const auto it = std::find_if(recorded.begin(), recorded.end(), [&](const auto& r) { return r.first == name; });
        const QString was = it == recorded.end() ? QStringLiteral("(none)") : it->second;
        if (was != value) {
            *error = "the unfinished run in " + folder + " was started with " + name + " " + was + ", not " + value;
            return nullptr;
        }
    }
    return journal;
}

std::string DeidentificationJournal::pendingUid(const QString& path) const
{
    const auto it = m_pending.find(path);
    return it == m_pending.end() ? std::string() : it->second;
}

bool DeidentificationJournal::append(const QByteArray& text, QString* error)
{
    if (writeAll(m_fd, text)) {
        m_size += text.size();
        return true;
    }
    if (error)
        *error = "cannot write " + m_path + ": " + errorText();
    // Nothing half-written may stay: a later append would continue a cut line.
    if (::ftruncate(m_fd, m_size) == 0)
        ::lseek(m_fd, m_size, SEEK_SET);
    return false;
}

bool DeidentificationJournal::recordPending(const std::vector<std::pair<QString, std::string>>& files, UidMap& uids,
                                            QString* error)
{
    for (UidMap::Entry& entry : uids.takeNewEntries())
        m_unwritten.push_back(std::move(entry));
    QByteArray text;
    for (const UidMap::Entry& entry : m_unwritten)
        text += entryLine(entry);
    for (const auto& [path, uid] : files)
        text += line("pending", encode(path.toUtf8()), encode(uid));
    if (!append(text, error))
        return false;
    m_unwritten.clear();
    return true;
}

void DeidentificationJournal::recordDone(const std::vector<QString>& files)
{
    QByteArray text;
    for (const QString& path : files)
        text += line("done", encode(path.toUtf8()));
    append(text, nullptr);
}

bool DeidentificationJournal::remove()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (::unlink(QFile::encodeName(m_path).constData()) != 0)
        return false;
    syncFolderOf(m_path);
    return true;
}

bool DeidentificationJournal::writeMapping(const UidMap& uids, const QString& file, QString* error)
{
    std::vector<UidMap::Entry> entries = uids.entries();
    std::sort(entries.begin(), entries.end(), [](const UidMap::Entry& a, const UidMap::Entry& b) {
        return std::tie(a.kind, a.original) < std::tie(b.kind, b.original);
    });
    QByteArray text(
        "# Original and new identifiers of a de-identification run by dravelin-dicom (percent-encoded).\n"
        "# This file RE-IDENTIFIES the patients: keep it as safe as the original files.\n");
    for (const UidMap::Entry& entry : entries)
        text += entryLine(entry);
    const QByteArray target = QFile::encodeName(QFileInfo(file).absoluteFilePath());
    const QByteArray temporary = target + ".part";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && ::fchmod(fd, 0600) == 0 && writeAll(fd, text) && ::fdatasync(fd) == 0;
    if (!ok)
        *error = "cannot write " + file + ": " + errorText();
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        *error = "cannot write " + file + ": " + errorText();
        ok = false;
    }
    if (ok && std::rename(temporary.constData(), target.constData()) != 0) {
        *error = "cannot write " + file + ": " + errorText();
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    syncFolderOf(file);
    return true;
}

}  // namespace Dravelin::Dicom
