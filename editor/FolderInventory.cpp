#include "editor/FolderInventory.h"

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
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    dir.reset();
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names) {
        const QByteArray path = folder + '/' + name;
        if (::stat(path.constData(), &info) != 0) {
            m_problems.push_back({display(path), QString::fromLocal8Bit(std::strerror(errno))});
        } else if (S_ISDIR(info.st_mode)) {
            list(path, depth + 1);
        } else if (!S_ISREG(info.st_mode)) {
            m_problems.push_back({display(path), QStringLiteral("not a regular file")});
        } else if (::access(path.constData(), R_OK) != 0) {
            m_problems.push_back({display(path), QString::fromLocal8Bit(std::strerror(errno))});
        } else {
            m_files.push_back(QDir::cleanPath(QFile::decodeName(path)));
        }
    }
}

}  // namespace Dravelin
