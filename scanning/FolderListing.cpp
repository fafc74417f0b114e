#include "scanning/FolderListing.h"

#include "host/core/Log.h"
#include "host/core/NaturalOrder.h"

#include <QCollator>
#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace Dravelin::Dicom {

void FolderListing::Files::add(const std::string& folder, std::string_view name)
{
    if (m_folders.empty() || m_folders.back() != folder)
        m_folders.push_back(folder);
    m_files.push_back({std::uint32_t(m_folders.size() - 1), m_names.size()});
    m_names.append(name).append(1, '\0');
}

FolderListing::Files FolderListing::Files::of(const std::vector<std::string>& paths)
{
    Files files;
    for (const std::string& path : paths) {
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            files.add(".", path);
        else
            files.add(path.substr(0, slash), std::string_view(path).substr(slash + 1));
    }
    return files;
}

// Natural order of the whole paths, stable (naturalOrderCollator()).
void FolderListing::Files::sort()
{
    const AsciiNaturalOrder ascii;
    m_plain = std::all_of(m_folders.begin(), m_folders.end(), [&](const std::string& f) { return ascii.accepts(f); }) &&
              std::all_of(m_files.begin(), m_files.end(),
                          [&](const File& f) { return ascii.accepts(m_names.c_str() + f.name); });
    if (m_plain) {
        // Sorted by natural-order keys of the whole paths, compared as bytes; equal keys (paths
        // that differ in case or leading zeros only) are compared in full.
        std::vector<std::string> folderKeys(m_folders.size());
        for (std::size_t f = 0; f < m_folders.size(); ++f) {
            AsciiNaturalOrder::appendKey(m_folders[f], folderKeys[f]);
            AsciiNaturalOrder::appendKey("/", folderKeys[f]);
        }
        struct Keyed
        {
            std::size_t start, size;
            File file;
        };
        std::string keys;
        std::vector<Keyed> keyed;
        keyed.reserve(size());
        for (const File& file : m_files) {
            const std::size_t start = keys.size();
            keys += folderKeys[file.folder];
            AsciiNaturalOrder::appendKey(m_names.c_str() + file.name, keys);
            keyed.push_back({start, keys.size() - start, file});
        }
        std::string a, b;
        std::stable_sort(keyed.begin(), keyed.end(), [&](const Keyed& x, const Keyed& y) {
            const int c =
                std::string_view(keys).substr(x.start, x.size).compare(std::string_view(keys).substr(y.start, y.size));
            return c != 0 ? c < 0 : plainLess(x.file, y.file, a, b);
        });
        for (std::size_t i = 0; i < keyed.size(); ++i)
            m_files[i] = keyed[i].file;
    } else {
        const QCollator collator = naturalOrderCollator();
        std::vector<std::pair<QCollatorSortKey, File>> keyed;
        keyed.reserve(size());
        for (std::size_t i = 0; i < size(); ++i)
            keyed.emplace_back(collator.sortKey(QFile::decodeName(path(i).c_str())), m_files[i]);
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& x, const auto& y) { return x.first.compare(y.first) < 0; });
        for (std::size_t i = 0; i < size(); ++i)
            m_files[i] = keyed[i].second;
    }
}

// The sorted parts as one sorted list: merged, when all are plain ASCII, else sorted again.
FolderListing::Files FolderListing::Files::join(std::vector<Files>& parts)
{
    Files out;
    std::vector<std::size_t> runs{0};
    bool plain = true;
    for (Files& part : parts) {
        const auto folderOffset = std::uint32_t(out.m_folders.size());
        const std::size_t nameOffset = out.m_names.size();
        std::move(part.m_folders.begin(), part.m_folders.end(), std::back_inserter(out.m_folders));
        out.m_names += part.m_names;
        for (const File& file : part.m_files)
            out.m_files.push_back({file.folder + folderOffset, file.name + nameOffset});
        if (!part.m_files.empty())
            runs.push_back(out.m_files.size());
        plain = plain && (part.m_plain || part.m_files.empty());
        part = Files();
    }
    if (!plain) {
        out.sort();
        return out;
    }
    std::string a, b;
    const auto less = [&](const File& x, const File& y) { return out.plainLess(x, y, a, b); };
    while (runs.size() > 2) {
        std::vector<std::size_t> merged{0};
        for (std::size_t i = 0; i + 1 < runs.size(); i += 2) {
            const std::size_t end = i + 2 < runs.size() ? runs[i + 2] : runs[i + 1];
            if (i + 2 < runs.size())
                std::inplace_merge(out.m_files.begin() + std::ptrdiff_t(runs[i]),
                                   out.m_files.begin() + std::ptrdiff_t(runs[i + 1]),
                                   out.m_files.begin() + std::ptrdiff_t(end), less);
            merged.push_back(end);
        }
        runs.swap(merged);
    }
    out.m_plain = true;
    return out;
}

bool FolderListing::Files::plainLess(const File& x, const File& y, std::string& a, std::string& b) const
{
    // Files of one folder compare by name: the equal folder counts for nothing.
    if (x.folder == y.folder)
        return AsciiNaturalOrder::compare(m_names.c_str() + x.name, m_names.c_str() + y.name) < 0;
    pathInto(x, a);
    pathInto(y, b);
    return AsciiNaturalOrder::compare(a, b) < 0;
}

// The folders met by one listing, or by one part of a parallel listing.
struct FolderListing::Listing
{
    FolderIds visited;
    // A part of a parallel listing notes the folders it enters and holds back its messages:
    // a folder two parts reach (through links) makes the listing start again in one thread.
    bool part = false;
    // The root's device, when the listing's inode numbers identify the folders below it.
    std::optional<unsigned long long> device;
    std::vector<FolderId> entered;
    std::vector<QString> skipped;

    void skip(const std::string& path)
    {
        const QString message = "Skipping folder already listed: " + QFile::decodeName(path.c_str());
        if (part)
            skipped.push_back(message);
        else
            DRAVELIN_LOG(1, "DICOM", message);
    }
};

namespace {

std::optional<std::pair<unsigned long long, unsigned long long>> folderIdAt(int folder, const char* name)
{
    struct stat info;
    if (::fstatat(folder, name, &info, 0) != 0)
        return std::nullopt;
    return std::make_pair(static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino));
}

}  // namespace

struct FolderListing::FolderEntry
{
    std::string name;
    bool folder;
    bool linked;  // a link (or of unknown type): its target was looked at
    std::optional<std::pair<unsigned long long, unsigned long long>> id;  // device and inode, when known
};

namespace {

// Whether the inode numbers a listing gives under `root` identify its folders, so that no
// stat() is needed to know a folder met again: on these file systems a folder's entry holds
// the inode stat() reports, and without a mount point below the root every folder there is
// on the root's device (a bound folder could come twice under one inode of another device).
bool listedInodesIdentifyFolders(const std::string& root)
{
    struct statfs fs;
    if (::statfs(root.empty() ? "/" : root.c_str(), &fs) != 0)
        return false;
    constexpr long ext = 0xEF53, xfs = 0x58465342, tmpfs = 0x01021994;
    if (fs.f_type != ext && fs.f_type != xfs && fs.f_type != tmpfs)
        return false;
    char* real = ::realpath(root.empty() ? "/" : root.c_str(), nullptr);
    if (!real)
        return false;
    const std::string prefix = std::string(real) == "/" ? "/" : std::string(real) + '/';
    std::free(real);
    std::FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
    if (!mounts)
        return false;
    bool below = false;
    char* line = nullptr;
    std::size_t capacity = 0;
    while (!below && ::getline(&line, &capacity, mounts) > 0) {
        // "ID PARENT MAJOR:MINOR ROOT MOUNT-POINT ...", blanks in names written as \040
        std::string_view rest(line);
        for (int field = 0; field < 4 && !rest.empty(); ++field)
            rest.remove_prefix(std::min(rest.size(), rest.find(' ') + 1));
        const std::string_view coded = rest.substr(0, rest.find(' '));
        std::string point;
        for (std::size_t i = 0; i < coded.size(); ++i) {
            if (coded[i] == '\\' && i + 3 < coded.size()) {
                point += char((coded[i + 1] - '0') * 64 + (coded[i + 2] - '0') * 8 + (coded[i + 3] - '0'));
                i += 3;
            } else {
                point += coded[i];
            }
        }
        below = point.size() >= prefix.size() && point.compare(0, prefix.size(), prefix) == 0;
    }
    std::free(line);
    std::fclose(mounts);
    return !below;
}

bool isAscii(const std::string& name)
{
    return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

}  // namespace

// The entries of QDir::entryInfoList(Dirs | Files | NoDotAndDotDot, NoSort): no hidden names, no
// broken links, no FIFOs, sockets or devices; links followed. "NoSort" takes QDir's default
// order, by name without regard to case.
std::vector<FolderListing::FolderEntry> FolderListing::folderEntries(int folderFd,
                                                                     std::optional<unsigned long long> device)
{
    std::vector<FolderEntry> entries;
    if (folderFd < 0)
        return entries;
    // The entries straight from the kernel: readdir() costs three more system calls per folder.
    alignas(8) char buffer[32 * 1024];
    for (;;) {
        const ssize_t filled = ::getdents64(folderFd, buffer, sizeof buffer);
        if (filled <= 0)
            break;
        for (ssize_t pos = 0; pos < filled;) {
            const auto* e = reinterpret_cast<const dirent64*>(buffer + pos);
            pos += e->d_reclen;
            if (e->d_name[0] == '.')
                continue;
            bool folder = e->d_type == DT_DIR;
            bool file = e->d_type == DT_REG;
            const bool linked = e->d_type == DT_LNK || e->d_type == DT_UNKNOWN;
            std::optional<std::pair<unsigned long long, unsigned long long>> id;
            if (linked) {
                struct stat info;
                if (::fstatat(folderFd, e->d_name, &info, 0) == 0) {
                    folder = S_ISDIR(info.st_mode);
                    file = S_ISREG(info.st_mode);
                    id = std::make_pair(static_cast<unsigned long long>(info.st_dev),
                                        static_cast<unsigned long long>(info.st_ino));
                }
            } else if (folder && device) {
                id = std::make_pair(*device, static_cast<unsigned long long>(e->d_ino));
            }
            if (!folder && !file)
                continue;
            entries.push_back({e->d_name, folder, linked, id});
        }
    }
    if (std::all_of(entries.begin(), entries.end(), [](const FolderEntry& e) { return isAscii(e.name); })) {
        std::stable_sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
            return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                                [](char x, char y) { return lower(x) < lower(y); });
        });
    } else {
        std::vector<std::pair<QString, FolderEntry>> keyed;
        for (FolderEntry& entry : entries)
            keyed.emplace_back(QFile::decodeName(entry.name.c_str()).toLower(), std::move(entry));
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
        entries.clear();
        for (auto& [key, entry] : keyed)
            entries.push_back(std::move(entry));
    }
    return entries;
}

FolderListing::FolderListing(const std::atomic<bool>& cancel, Progress progress, int threads)
    : m_cancel(cancel), m_progress(std::move(progress)), m_threads(std::max(threads, 1))
{
}

void FolderListing::updateProgress(int value, int maximum) const
{
    if (m_progress.value)
        m_progress.value(value, maximum);
}

void FolderListing::updateProgressText(const std::string& text) const
{
    if (m_progress.text)
        m_progress.text(text);
}

bool FolderListing::isDicomdirName(std::string_view name)
{
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        // Upper-casing never changes the length of a name that reads "DICOMDIR" afterwards.
        const QString text = QFile::decodeName(QByteArray(name.data(), int(name.size())));
        return text.size() == 8 && text.toUpper() == QLatin1String("DICOMDIR");
    }
    return name.size() == 8 && std::equal(name.begin(), name.end(), "DICOMDIR", [](char a, char b) {
               return (a >= 'a' && a <= 'z' ? char(a - 'a' + 'A') : a) == b;
           });
}

FolderListing::Files FolderListing::list(const QString& directory, bool recursive, bool useDicomdirOnly, int depth)
{
    std::string root = QFile::encodeName(QDir(directory).absolutePath()).toStdString();
    if (root == "/")
        root.clear();
    const auto rootId = folderIdAt(AT_FDCWD, root.empty() ? "/" : root.c_str());
    std::optional<unsigned long long> device;
    if (recursive && rootId && listedInodesIdentifyFolders(root))
        device = rootId->first;
    if (recursive && rootId && m_threads > 1)
        if (std::optional<Files> files = listInParallel(root, *rootId, device, useDicomdirOnly, depth))
            return std::move(*files);
    Listing listing;
    listing.device = device;
    if (rootId)
        listing.visited.insert(*rootId);
    Files files;
    listFolder(::open(root.empty() ? "/" : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), root, recursive,
               useDicomdirOnly, depth, true, listing, files);
    // Sorting every level by the whole paths, as the listing goes, ends in this one stable sort.
    files.sort();
    return files;
}

// Each subfolder of the root is listed and sorted by a thread of its own; the sorted parts are
// merged. The result is the one-thread listing's, which is taken instead whenever two parts
// meet one folder (only links make that possible).
std::optional<FolderListing::Files> FolderListing::listInParallel(const std::string& root, FolderId rootId,
                                                                  std::optional<unsigned long long> device,
                                                                  bool useDicomdirOnly, int depth)
{
    const int fd = ::open(root.empty() ? "/" : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const std::vector<FolderEntry> entries = folderEntries(fd, device);
    const int total = static_cast<int>(entries.size());
    std::vector<const FolderEntry*> folders;
    std::vector<Files> parts(1);  // the root's own files first
    for (const FolderEntry& entry : entries) {
        if (useDicomdirOnly && !entry.folder && isDicomdirName(std::string_view(entry.name))) {
            ::close(fd);
            return std::nullopt;  // the root's DICOMDIR is all the one-thread listing takes
        }
        if (entry.folder)
            folders.push_back(&entry);
        else if (!useDicomdirOnly && !isDicomdirName(std::string_view(entry.name)))
            parts[0].add(root, entry.name);
    }
    if (depth == 0) {
        updateProgress(0, total);
        updateProgressText("Retrieving files...");
    }
    parts.resize(folders.size() + 1);
    std::vector<Listing> listings(folders.size());
    std::atomic<int> done{total - static_cast<int>(folders.size())};
    std::atomic<bool> failed{false};
#pragma omp parallel for num_threads(m_threads) schedule(dynamic, 1)
    for (std::size_t k = 0; k < folders.size(); ++k) {
        if (m_cancel.load() || failed.load())
            continue;
        try {
            Listing& listing = listings[k];
            listing.part = true;
            listing.device = device;
            listing.visited.insert(rootId);
            listSubfolder(fd, root, *folders[k], useDicomdirOnly, depth, true, listing, parts[k + 1]);
            parts[k + 1].sort();
            if (depth == 0)
                updateProgress(++done, total);
        } catch (...) {  // out of memory: one thread tries again
            failed = true;
        }
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    std::vector<FolderId> entered;
    for (const Listing& listing : listings)
        entered.insert(entered.end(), listing.entered.begin(), listing.entered.end());
    std::sort(entered.begin(), entered.end());
    if (std::adjacent_find(entered.begin(), entered.end()) != entered.end())
        return std::nullopt;
    for (const Listing& listing : listings)
        for (const QString& message : listing.skipped)
            DRAVELIN_LOG(1, "DICOM", message);
    parts[0].sort();
    return Files::join(parts);
}

// Folders are opened relative to their parent's descriptor: no path is looked up from the
// root again, which dominates listing a tree of many small folders.
// A folder met again (through a link) is known by its device and inode, not by its canonical
// path, whose resolution would look at every parent.
void FolderListing::listSubfolder(int fd, const std::string& dir, const FolderEntry& entry, bool useDicomdirOnly,
                                  int depth, bool direct, Listing& listing, Files& out)
{
    const std::string path = dir + '/' + entry.name;
    const auto id = entry.id ? entry.id : folderIdAt(fd, entry.name.c_str());
    if (!id || !listing.visited.insert(*id).second) {
        listing.skip(path);
        return;
    }
    if (listing.part)
        listing.entered.push_back(*id);
    listFolder(::openat(fd, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), path, true, useDicomdirOnly,
               depth + 1, direct && !entry.linked, listing, out);
}

void FolderListing::listFolder(int fd, const std::string& dir, bool recursive, bool useDicomdirOnly, int depth,
                               bool direct, Listing& listing, Files& out)
{
    const auto closeFolder = [fd] {
        if (fd >= 0)
            ::close(fd);
    };
    // Below a link, folders may lie on any device: their inode numbers alone say nothing.
    const std::vector<FolderEntry> entries = folderEntries(fd, direct ? listing.device : std::nullopt);
    const int total = static_cast<int>(entries.size());
    if (depth == 0) {
        updateProgress(0, total);
        updateProgressText("Retrieving files...");
    }
    if (useDicomdirOnly) {
        for (const FolderEntry& entry : entries) {
            if (!entry.folder && isDicomdirName(std::string_view(entry.name))) {
                out.add(dir, entry.name);
                closeFolder();
                return;
            }
        }
    }
    int count = 0;
    for (const FolderEntry& entry : entries) {
        if (m_cancel.load())
            break;
        if (entry.folder) {
            if (recursive)
                listSubfolder(fd, dir, entry, useDicomdirOnly, depth, direct, listing, out);
        } else if (!useDicomdirOnly && !isDicomdirName(std::string_view(entry.name))) {
            out.add(dir, entry.name);
        }
        ++count;
        if (depth == 0)
            updateProgress(count, total);
    }
    closeFolder();
}

}  // namespace Dravelin::Dicom
