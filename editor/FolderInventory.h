#pragma once

#include <QString>

#include <vector>

namespace Dravelin {

// The regular files below a folder, and every entry below it that cannot be used, with the
// reason, so that a batch operation can report what it did not process instead of dropping it:
// folders and files that cannot be opened, and entries that are not regular files (pipes,
// devices, broken links). Paths are QFile::decodeName text, so a name that is not UTF-8 still
// opens (see FileNameCodec).
//
// Hidden entries are left out, as the folder scan leaves them out. Symbolic links are followed;
// a folder reached twice is listed once. Never throws.
class FolderInventory
{
public:
    struct Problem
    {
        QString path;  // QFile::decodeName text
        QString reason;
    };

    explicit FolderInventory(const QString& folder);

    const std::vector<QString>& files() const { return m_files; }  // absolute paths
    const std::vector<Problem>& problems() const { return m_problems; }

private:
    void list(const QByteArray& folder, int depth);

    std::vector<QString> m_files;
    std::vector<Problem> m_problems;
    std::vector<std::pair<unsigned long, unsigned long>> m_visited;  // device, inode
};

}  // namespace Dravelin
