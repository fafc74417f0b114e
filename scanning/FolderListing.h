#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Dravelin::Dicom {

// Lists the files of a folder (and its subfolders) as a folder scan reads them: in the natural
// order of their whole paths, without DICOMDIR files (in DICOMDIR mode: the first DICOMDIR of
// each folder alone), each folder once however many links lead to it. With several threads the
// root's subfolders are listed apart and the sorted parts merged; the list is the same.
class FolderListing
{
public:
    // The files of a folder listing, kept small (a QFileInfo per file cost more memory than a large
    // scan's records): each folder's path once, and per file its folder and its name.
    class Files
    {
    public:
        std::size_t size() const { return m_files.size(); }
        // The whole path of file `i`, and where its name starts in it.
        std::string path(std::size_t i) const
        {
            std::string out;
            pathInto(i, out);
            return out;
        }
        std::size_t nameStart(std::size_t i) const { return m_folders[m_files[i].folder].size() + 1; }
        // These absolute paths, in this order.
        static Files of(const std::vector<std::string>& paths);

    private:
        friend class FolderListing;
        void add(const std::string& folder, std::string_view name);
        // Natural order of the whole paths, stable (naturalOrderCollator()).
        void sort();
        // The sorted parts as one sorted list: merged, when all are plain ASCII, else sorted again.
        static Files join(std::vector<Files>& parts);

        struct File
        {
            std::uint32_t folder;
            std::size_t name;  // offset in m_names
        };
        void pathInto(const File& file, std::string& out) const
        {
            out.assign(m_folders[file.folder]).append(1, '/').append(m_names.c_str() + file.name);
        }
        void pathInto(std::size_t i, std::string& out) const { pathInto(m_files[i], out); }
        bool plainLess(const File& x, const File& y, std::string& a, std::string& b) const;

        std::vector<std::string> m_folders;
        std::vector<File> m_files;
        std::string m_names;   // each ended by a NUL
        bool m_plain = false;  // sorted by AsciiNaturalOrder
    };

    struct Progress
    {
        std::function<void(int done, int of)> value;  // entries of the root listed
        std::function<void(const std::string&)> text;
    };

    // `cancel` stops a listing part way (what was listed is kept); it must outlive the listing.
    FolderListing(const std::atomic<bool>& cancel, Progress progress, int threads);

    // `depth` > 0 (a folder below the one the user chose) reports no progress.
    Files list(const QString& directory, bool recursive, bool dicomdirOnly, int depth = 0);

    // "DICOMDIR" in any case.
    static bool isDicomdirName(std::string_view name);

private:
    using FolderId = std::pair<unsigned long long, unsigned long long>;  // device, inode
    using FolderIds = std::set<FolderId>;
    struct Listing;
    struct FolderEntry;
    static std::vector<FolderEntry> folderEntries(int folderFd, std::optional<unsigned long long> device);
    std::optional<Files> listInParallel(const std::string& root, FolderId rootId,
                                        std::optional<unsigned long long> device, bool useDicomdirOnly, int depth);
    // `direct`: reached from the root through folders only, no link.
    void listFolder(int fd, const std::string& dir, bool recursive, bool useDicomdirOnly, int depth, bool direct,
                    Listing& listing, Files& out);
    // Lists a subfolder of the folder open as `fd`, unless the listing met it before.
    void listSubfolder(int fd, const std::string& dir, const FolderEntry& entry, bool useDicomdirOnly, int depth,
                       bool direct, Listing& listing, Files& out);
    void updateProgress(int value, int maximum) const;
    void updateProgressText(const std::string& text) const;

    const std::atomic<bool>& m_cancel;
    Progress m_progress;
    int m_threads;
};

}  // namespace Dravelin::Dicom
