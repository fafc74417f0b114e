#include "editor/FolderInventory.h"

#include "host/dicom/DicomFileWriter.h"
#include "host/dicom/deid/DeidentificationJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Dravelin {

namespace {

constexpr int kMaxDepth = 256;  // beyond this, a folder structure is a loop or an attack

QString display(const QByteArray& path)
{
    return QFile::decodeName(path);
}

}  // namespace

FolderInventory::FolderInventory(const QString& folder)
{
    list(QFile::encodeName(QFileInfo(folder).absoluteFilePath()), 0);
    std::vector<QString> kept;
    for (size_t i = 0; i < m_files.size(); ++i)
        if (!m_files[i].isEmpty())
            kept.push_back(std::move(m_files[i]));
    m_files = std::move(kept);
    m_fileIndex.clear();
    m_viaLink.clear();
}

void FolderInventory::addFile(const QByteArray& path, const struct stat& info, bool link)
{
    const QString clean = QDir::cleanPath(QFile::decodeName(path));
    const std::pair<unsigned long, unsigned long> id(info.st_dev, info.st_ino);
    const auto seen = m_fileIndex.find(id);
    // Hard links are names of their own: in place, replacing one leaves the others as they were.
    if (seen == m_fileIndex.end() || (!link && !m_viaLink[seen->second])) {
        m_fileIndex[id] = m_files.size();
        m_files.push_back(clean);
        m_viaLink.push_back(link);
        return;
    }
    QString& first = m_files[seen->second];
    if (link) {
        m_repeatedLinks.emplace_back(clean, first);
        return;
    }
    // Found through a link first: the file keeps its own path, at the place where that sorts.
    m_repeatedLinks.emplace_back(first, clean);
    first.clear();
    seen->second = m_files.size();
    m_files.push_back(clean);
    m_viaLink.push_back(false);
}

void FolderInventory::list(const QByteArray& folder, int depth)
{
    struct stat info;
    if (::stat(folder.constData(), &info) != 0) {
        m_problems.push_back({display(folder), QString::fromLocal8Bit(std::strerror(errno))});
        return;
    }
    const std::pair<unsigned long, unsigned long> id(info.st_dev, info.st_ino);
    if (std::find(m_visited.begin(), m_visited.end(), id) != m_visited.end())
        return;
    m_visited.push_back(id);
    if (depth > kMaxDepth) {
        m_problems.push_back({display(folder), QStringLiteral("folders nested too deep")});
        return;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir) {
        m_problems.push_back({display(folder), QString::fromLocal8Bit(std::strerror(errno))});
        return;
    }
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir.get()))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    dir.reset();
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names) {
        const QByteArray path = folder + '/' + name;
        struct stat own;
        const bool link = ::lstat(path.constData(), &own) == 0 && S_ISLNK(own.st_mode);
        if (::stat(path.constData(), &info) != 0) {
            m_problems.push_back({display(path), QString::fromLocal8Bit(std::strerror(errno))});
        } else if (S_ISREG(info.st_mode) && Dicom::DeidentificationJournal::fileName() == QLatin1String(name)) {
            m_runFiles.push_back({display(path), QStringLiteral("the journal of an unfinished de-identification run")});
        } else if (S_ISREG(info.st_mode) && Dicom::DicomFileWriter::isTemporaryName(QFile::decodeName(name))) {
            m_runFiles.push_back({display(path), QStringLiteral("a temporary file of an interrupted run")});
        } else if (S_ISDIR(info.st_mode)) {
            list(path, depth + 1);
        } else if (!S_ISREG(info.st_mode)) {
            m_problems.push_back({display(path), QStringLiteral("not a regular file")});
        } else if (::access(path.constData(), R_OK) != 0) {
            m_problems.push_back({display(path), QString::fromLocal8Bit(std::strerror(errno))});
        } else {
            addFile(path, info, link);
        }
    }
}

}  // namespace Dravelin
