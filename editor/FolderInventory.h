#pragma once

#include <QString>

#include <map>
#include <utility>
#include <vector>

struct stat;

namespace Dravelin {

// The regular files below a folder, and every entry below it that cannot be used, with the
// reason, so that a batch operation can report what it did not process instead of dropping it:
// folders and files that cannot be opened, and entries that are not regular files (pipes,
// devices, broken links). Paths are QFile::decodeName text, so a name that is not UTF-8 still
// opens (see FileNameCodec).
//
// Hidden entries are files like any other (they may hold a patient's data as well). Files that a
// de-identification run keeps for itself (its journal, its temporaries) are never input: they are
// listed apart. Symbolic links are followed; a file or folder reached twice is listed once, under
// its own path when that is inside the folder, else under its first link. Never throws.
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
    // Journals and temporaries of de-identification runs, with what they are.
    const std::vector<Problem>& runFiles() const { return m_runFiles; }
    // Links to files listed under another path: {link, that path}.
    const std::vector<std::pair<QString, QString>>& repeatedLinks() const { return m_repeatedLinks; }

private:
    void list(const QByteArray& folder, int depth);
    void addFile(const QByteArray& path, const struct stat& info, bool link);

    std::vector<QString> m_files;
    std::vector<Problem> m_problems;
    std::vector<Problem> m_runFiles;
    std::vector<std::pair<QString, QString>> m_repeatedLinks;
    std::map<std::pair<unsigned long, unsigned long>, size_t> m_fileIndex;  // device, inode -> in m_files
    std::vector<bool> m_viaLink;
    std::vector<std::pair<unsigned long, unsigned long>> m_visited;  // device, inode
};

}  // namespace Dravelin
