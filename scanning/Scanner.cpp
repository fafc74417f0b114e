#include "scanning/Scanner.h"

#include "host/core/NaturalOrder.h"
#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomDirReader.h"
#include "host/dicom/DicomPacsCommunication.h"
#include "host/dicom/HeaderReadAhead.h"
#include "host/dicom/RawHeader.h"
#include "host/dicom/Utils.h"
#include "host/dicom/WebClient.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "host/core/ThreadPool.h"
#include "host/dicom/Element.h"
#include "scanning/Image.h"
#include "scanning/PacsSeriesProxy.h"
#include "scanning/Patient.h"
#include "scanning/RecordElements.h"
#include "scanning/RecordTags.h"
#include "scanning/Series.h"
#include "scanning/Study.h"
#include "scanning/TreeMerger.h"

#include <QCollator>
#include <QElapsedTimer>
#include <QFile>
#include <QUrl>

#include <fmt/format.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <dirent.h>
#include <fcntl.h>
#include <omp.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>

namespace Dravelin::Dicom {

namespace {

bool isDicomdirName(const QString& fileName)
{
    // Upper-casing never changes the length of a name that reads "DICOMDIR" afterwards.
    return fileName.size() == 8 && fileName.toUpper() == QLatin1String("DICOMDIR");
}

bool isDicomdirName(std::string_view name)
{
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return isDicomdirName(QFile::decodeName(QByteArray(name.data(), int(name.size()))));
    return name.size() == 8 && std::equal(name.begin(), name.end(), "DICOMDIR", [](char a, char b) {
               return (a >= 'a' && a <= 'z' ? char(a - 'a' + 'A') : a) == b;
           });
}

// A file ID must stay inside the DICOMDIR's folder: no absolute path, no drive, no "..".
bool isSafeFileId(const QString& fileId)
{
    if (fileId.isEmpty() || fileId.startsWith('\\') || fileId.startsWith('/'))
        return false;
    if (fileId.size() >= 2 && fileId[1] == ':')
        return false;
    QString normalized = fileId;
    normalized.replace('\\', '/');
    const QStringList parts = normalized.split('/');
    return std::none_of(parts.begin(), parts.end(), [](const QString& p) { return p.trimmed() == ".."; });
}

// A file ID may still leave the folder through symbolic links: the file (or, when it does not
// exist, its nearest existing folder) must resolve to a path inside `canonicalBase`.
bool staysInside(const QString& location, const QString& canonicalBase)
{
    QFileInfo info(location);
    QString resolved = info.canonicalFilePath();
    while (resolved.isEmpty()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            return false;
        info = QFileInfo(parent);
        resolved = info.canonicalFilePath();
    }
    return resolved == canonicalBase || resolved.startsWith(canonicalBase + '/');
}

// Headers longer than the read-ahead are read again up to this size before DCMTK gets them.
constexpr std::size_t kLongHeaderBytes = 1024 * 1024;

void logException(const char* where, const QString& path, const char* what)
{
    Log::log(4, "DICOM", QString("%1 %2: %3").arg(where, path, what), __FILE__, __LINE__);
}

}  // namespace

// The files of a folder listing, kept small (a QFileInfo per file cost more memory than a large
// scan's records): each folder's path once, and per file its folder and its name.
class Scanner::FileList
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

    void add(const std::string& folder, std::string_view name)
    {
        if (m_folders.empty() || m_folders.back() != folder)
            m_folders.push_back(folder);
        m_files.push_back({std::uint32_t(m_folders.size() - 1), m_names.size()});
        m_names.append(name).append(1, '\0');
    }

    // Natural order of the whole paths, stable (naturalOrderCollator()).
    void sort()
    {
        const AsciiNaturalOrder ascii;
        m_plain =
            std::all_of(m_folders.begin(), m_folders.end(), [&](const std::string& f) { return ascii.accepts(f); }) &&
            std::all_of(m_files.begin(), m_files.end(),
                        [&](const File& f) { return ascii.accepts(m_names.c_str() + f.name); });
        if (m_plain) {
            std::string a, b;
            std::stable_sort(m_files.begin(), m_files.end(),
                             [&](const File& x, const File& y) { return plainLess(x, y, a, b); });
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
    static FileList join(std::vector<FileList>& parts)
    {
        FileList out;
        std::vector<std::size_t> runs{0};
        bool plain = true;
        for (FileList& part : parts) {
            const auto folderOffset = std::uint32_t(out.m_folders.size());
            const std::size_t nameOffset = out.m_names.size();
            std::move(part.m_folders.begin(), part.m_folders.end(), std::back_inserter(out.m_folders));
            out.m_names += part.m_names;
            for (const File& file : part.m_files)
                out.m_files.push_back({file.folder + folderOffset, file.name + nameOffset});
            if (!part.m_files.empty())
                runs.push_back(out.m_files.size());
            plain = plain && (part.m_plain || part.m_files.empty());
            part = FileList();
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

private:
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
    bool plainLess(const File& x, const File& y, std::string& a, std::string& b) const
    {
        // Files of one folder compare by name: the equal folder counts for nothing.
        if (x.folder == y.folder)
            return AsciiNaturalOrder::compare(m_names.c_str() + x.name, m_names.c_str() + y.name) < 0;
        pathInto(x, a);
        pathInto(y, b);
        return AsciiNaturalOrder::compare(a, b) < 0;
    }

    std::vector<std::string> m_folders;
    std::vector<File> m_files;
    std::string m_names;   // each ended by a NUL
    bool m_plain = false;  // sorted by AsciiNaturalOrder
};

// The folders met by one listing, or by one part of a parallel listing.
struct Scanner::Listing
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

// The last record of one level built from a RawHeader, and what it was built from. Files
// come mostly in series order: the next file's patient, study and series are most often the
// same, and copying them costs a fraction of reading them again.
template <typename Record>
struct LevelTemplate
{
    std::string key;  // the encoded values of the level's elements
    std::unique_ptr<Record> record;
    std::vector<DcmTagKey> missing;  // its missing Required elements, logged again for every copy

    // A copy of the template when `fields` hold the same values, else a new record (which
    // becomes the template).
    template <typename Build>
    Record* make(const RecordElements& fields, std::initializer_list<const DcmTag*> tags, std::string& scratch,
                 Build build)
    {
        scratch.clear();
        for (const DcmTag* tag : tags) {
            const EncodedValue* value = fields.encoded(*tag);
            const std::uint32_t length = value ? std::uint32_t(value->bytes.size()) : 0xFFFFFFFFu;
            scratch.append(reinterpret_cast<const char*>(&length), sizeof length);
            if (value)
                scratch.append(value->bytes);
        }
        if (!record || scratch != key) {
            missing.clear();
            fields.collectMissing(&missing);
            record.reset(build());
            fields.collectMissing(nullptr);
            key = scratch;
        } else {
            for (const DcmTagKey& tag : missing)
                ElementBase::logMissing(tag);
        }
        return new Record(*record);
    }
};

}  // namespace

// What one worker of a folder scan keeps from file to file.
struct Scanner::ScanState
{
    RawHeader header{RecordElements::rawFields()};
    std::vector<char> buffer;  // a header longer than the read-ahead
    std::string key;
    LevelTemplate<Patient> patient;
    LevelTemplate<Study> study;
    LevelTemplate<Series> series;
    std::string folder;         // of the last file
    Filesystem::Url folderUrl;  // its Url::localFolder
    int folderFd = -1;          // it, opened (O_PATH) for opening its files
    int filesInFolder = 0;
    std::vector<QString> numbers;  // instance numbers as written, shared by all images
    // The files of one series read in a row, handed on as one tree: one merge on the GUI
    // thread per batch instead of per file.
    std::unique_ptr<Patient> batch;  // one study, one series

    ScanState() = default;
    ScanState(const ScanState&) = delete;
    ScanState& operator=(const ScanState&) = delete;
    ~ScanState()
    {
        if (folderFd >= 0)
            ::close(folderFd);
    }

    // Moves on to the folder of `path`. From its second file on, files are opened relative to
    // it (a folder of one file would pay for opening the folder).
    void enterFolder(const char* path, std::size_t nameStart)
    {
        const std::string_view folderBytes(path, nameStart > 0 ? nameStart - 1 : 0);
        if (folderBytes != folder || filesInFolder == 0) {
            folder = folderBytes;
            folderUrl = Filesystem::Url::localFolder(QString::fromStdString(folder));
            if (folderFd >= 0)
                ::close(folderFd);
            folderFd = -1;
            filesInFolder = 0;
        }
        if (++filesInFolder == 2 && !folder.empty())
            folderFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }

    // The location of a file of the current folder: the files of one folder share its text.
    Filesystem::Url location(const char* path, std::size_t nameStart)
    {
        if (folderUrl.isEmpty())
            return Filesystem::Url::fromLocalFile(std::string(path));
        return Filesystem::Url::fromLocalFile(folderUrl, QString::fromUtf8(path + nameStart));
    }

    // Small instance numbers repeat in every series: their texts are shared.
    void share(QString& text)
    {
        if (text.isEmpty() || text.size() > 4 || (text.size() > 1 && text[0] == '0'))
            return;
        int value = 0;
        for (const QChar c : text) {
            if (c < '0' || c > '9')
                return;
            value = value * 10 + (c.unicode() - '0');
        }
        if (numbers.size() <= std::size_t(value))
            numbers.resize(std::size_t(value) + 1);
        QString& shared = numbers[std::size_t(value)];
        if (shared.isNull())
            shared = text;
        else
            text = shared;
    }
};

Scanner::Scanner(std::shared_ptr<DatasetCache> cache)
    : m_numberOfThreads(defaultNumberOfThreads()), m_merger(std::make_unique<TreeMerger>())
{
    setDatasetCache(std::move(cache));
}

Scanner::~Scanner()
{
    for (Patient* p : m_patients)
        delete p;
}

int Scanner::defaultNumberOfThreads()
{
    return defaultNumberOfThreads(omp_get_max_threads());
}

int Scanner::defaultNumberOfThreads(int maxThreads)
{
    return 3 * maxThreads >= 8 ? 3 * maxThreads / 4 : 1;
}

void Scanner::setDatasetCache(std::shared_ptr<DatasetCache> cache)
{
    m_cache = cache ? std::move(cache) : std::make_shared<DatasetCache>(0);
}

std::shared_ptr<DatasetCache> Scanner::datasetCache() const
{
    return m_cache;
}

void Scanner::setNumberOfThreads(int n)
{
    m_numberOfThreads = std::max(1, n);
}

int Scanner::numberOfThreads() const
{
    return m_numberOfThreads;
}

void Scanner::cancel()
{
    m_cancel.store(true);
}

const std::vector<Patient*>& Scanner::patients() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_merger->finish();
    return m_patients;
}

std::vector<std::unique_ptr<Patient>> Scanner::takePatients()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_merger->finish();
    std::vector<std::unique_ptr<Patient>> result;
    result.reserve(m_patients.size());
    for (Patient* p : m_patients)
        result.emplace_back(p);
    m_patients.clear();
    return result;
}

void Scanner::addPatient(Patient* patient)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_merger->add(m_patients, patient);
}

void Scanner::queuePatient(Patient* patient)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_patients.push_back(patient);
}

void Scanner::removePacsProxy(PacsSeriesProxy* proxy)
{
    if (!proxy)
        return;
    if (proxy->study)
        proxy->study->pacsSeriesProxy = nullptr;
    delete proxy;
}

void Scanner::updateProgress(int, int) {}

void Scanner::updateProgressText(const std::string&) {}

namespace {

std::optional<std::pair<unsigned long long, unsigned long long>> folderIdAt(int folder, const char* name)
{
    struct stat info;
    if (::fstatat(folder, name, &info, 0) != 0)
        return std::nullopt;
    return std::make_pair(static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino));
}

}  // namespace

struct Scanner::FolderEntry
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
std::vector<Scanner::FolderEntry> Scanner::folderEntries(int folderFd, std::optional<unsigned long long> device)
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
            std::string name = e->d_name;
            // Paths go through QString as QDir hands them out: a name that is not in the file name
            // encoding comes back altered, and then cannot be opened (as before).
            if (!isAscii(name))
                name = QFile::encodeName(QFile::decodeName(name.c_str())).toStdString();
            entries.push_back({std::move(name), folder, linked, id});
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

QList<QFileInfo> Scanner::retrieveFileList(const QDir& dir, bool recursive, bool useDicomdirOnly, int depth)
{
    const FileList files = listFiles(dir.absolutePath(), recursive, useDicomdirOnly, depth);
    QList<QFileInfo> result;
    result.reserve(int(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i)
        result.append(QFileInfo(QFile::decodeName(files.path(i).c_str())));
    return result;
}

Scanner::FileList Scanner::listFiles(const QString& directory, bool recursive, bool useDicomdirOnly, int depth)
{
    std::string root = QFile::encodeName(QDir(directory).absolutePath()).toStdString();
    if (root == "/")
        root.clear();
    const auto rootId = folderIdAt(AT_FDCWD, root.empty() ? "/" : root.c_str());
    std::optional<unsigned long long> device;
    if (recursive && rootId && listedInodesIdentifyFolders(root))
        device = rootId->first;
    if (recursive && rootId && m_numberOfThreads > 1)
        if (std::optional<FileList> files = listInParallel(root, *rootId, device, useDicomdirOnly, depth))
            return std::move(*files);
    Listing listing;
    listing.device = device;
    if (rootId)
        listing.visited.insert(*rootId);
    FileList files;
    listFolder(::open(root.empty() ? "/" : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), root, recursive,
               useDicomdirOnly, depth, true, listing, files);
    // Sorting every level by the whole paths, as the listing goes, ends in this one stable sort.
    files.sort();
    return files;
}

// Each subfolder of the root is listed and sorted by a thread of its own; the sorted parts are
// merged. The result is the one-thread listing's, which is taken instead whenever two parts
// meet one folder (only links make that possible).
std::optional<Scanner::FileList> Scanner::listInParallel(const std::string& root, FolderId rootId,
                                                         std::optional<unsigned long long> device, bool useDicomdirOnly,
                                                         int depth)
{
    const int fd = ::open(root.empty() ? "/" : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const std::vector<FolderEntry> entries = folderEntries(fd, device);
    const int total = static_cast<int>(entries.size());
    std::vector<const FolderEntry*> folders;
    std::vector<FileList> parts(1);  // the root's own files first
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
#pragma omp parallel for num_threads(m_numberOfThreads) schedule(dynamic, 1)
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
    return FileList::join(parts);
}

// Folders are opened relative to their parent's descriptor: no path is looked up from the
// root again, which dominates listing a tree of many small folders.
// A folder met again (through a link) is known by its device and inode, not by its canonical
// path, whose resolution would look at every parent.
void Scanner::listSubfolder(int fd, const std::string& dir, const FolderEntry& entry, bool useDicomdirOnly, int depth,
                            bool direct, Listing& listing, FileList& out)
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

void Scanner::listFolder(int fd, const std::string& dir, bool recursive, bool useDicomdirOnly, int depth, bool direct,
                         Listing& listing, FileList& out)
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

void Scanner::scanDirectory(const QString& directory, bool recursive, bool useDicomdirOnly, bool checkDicomHeader)
{
    m_cancel.store(false);
    QElapsedTimer timer;
    timer.start();
    DRAVELIN_LOG(1, "DICOM", "Start scanning " + directory + " (recursive: " + (recursive ? "1" : "0") + ")");

    FileList files;
    try {
        files = listFiles(directory, recursive, useDicomdirOnly, 0);
    } catch (const std::exception& e) {
        logException("Cannot list", directory, e.what());
    }
    const int n = static_cast<int>(files.size());
    DRAVELIN_LOG(0, "DICOM", "Found " + QString::number(n) + " files");
    updateProgress(0, n);

    std::atomic<int> done{0};
    std::vector<ScanState> states(static_cast<std::size_t>(m_numberOfThreads));
    // Files are handed out in blocks: one thread left with the costly end of a static split
    // (files DCMTK reads, cold folders) made the other wait. Merging does not depend on which
    // thread reads a file first (Image::scanOrder).
    static std::atomic<std::uint32_t> scanned{0};
    const std::uint32_t firstOrder = scanned.fetch_add(std::uint32_t(n)) + 1;
#pragma omp parallel for num_threads(m_numberOfThreads) schedule(dynamic, 512)
    for (int i = 0; i < n; ++i) {
        if (m_cancel.load())
            continue;
        try {
            scanFile(files.path(std::size_t(i)).c_str(), files.nameStart(std::size_t(i)), checkDicomHeader,
                     firstOrder + std::uint32_t(i), states[static_cast<std::size_t>(omp_get_thread_num())]);
        } catch (const std::exception& e) {
            logException("Cannot scan", QFile::decodeName(files.path(std::size_t(i)).c_str()), e.what());
        } catch (...) {
            logException("Cannot scan", QFile::decodeName(files.path(std::size_t(i)).c_str()), "unknown error");
        }
        try {
            updateProgress(++done, n);
        } catch (...) {
        }
    }
    for (ScanState& state : states)
        flush(state);

    if (n == 0) {
        const QString message = useDicomdirOnly ? "No DICOMDIR files found in directory '" + directory + "'."
                                                : "No files found in directory '" + directory + "'.";
        DRAVELIN_LOG(2, "", message);
    }
    DRAVELIN_LOG(1, "", "Finished scanning " + directory + "in: " + QString::number(timer.elapsed()) + "ms");
}

void Scanner::scanFile(const char* pathBytes, std::size_t nameStart, bool checkDicomHeader, std::uint32_t order,
                       ScanState& state)
{
    const std::string path(pathBytes);
    const auto skip = [&](bool hasHeader) {
        if (m_skippedFileHandler)
            m_skippedFileHandler(QFile::decodeName(pathBytes), ::access(pathBytes, R_OK) != 0 ? SkipReason::Unreadable
                                                               : hasHeader                    ? SkipReason::Truncated
                                                                                              : SkipReason::NotDicom);
    };
    // The bytes of the header test are those the parse reads first (HeaderReadAhead).
    state.enterFolder(pathBytes, nameStart);
    std::size_t fileSize = 0;
    const std::vector<char>* head =
        HeaderReadAhead::read(path, HeaderReadAhead::DefaultBytes, &fileSize, state.folderFd, pathBytes + nameStart);
    const bool hasHeader = head && Utils::isDicomHeader(head->data(), head->size());
    if (checkDicomHeader && !hasHeader) {
        skip(false);
        return;
    }
    if (isDicomdirName(std::string_view(pathBytes + nameStart))) {
        flush(state);  // the files before it merge first, as they come first
        readDicomDir(QFile::decodeName(pathBytes), false);
        return;
    }
    std::unique_ptr<Patient> patient;
    if (hasHeader && m_readsHeadersDirectly) {
        bool truncated = false;
        patient = readHeader(path, *head, fileSize, state, truncated);
        if (truncated) {
            skip(true);
            return;
        }
    }
    if (!patient) {
        std::shared_ptr<DcmDataset> dataset = m_cache->loadFromFile(path, nullptr, false);
        if (!dataset) {
            skip(checkDicomHeader || Utils::hasDicomHeader(path));
            return;
        }
        // Outside DICOMDIR mode a file set's directory is left out whatever its name: its records
        // are no image. Such datasets carry no SOP class of their own, so only they cost the look.
        if (!dataset->tagExists(DCM_SOPClassUID) && Utils::isDicomdirFile(path)) {
            DRAVELIN_LOG(1, "DICOM", "Skipping DICOMDIR file " + QFile::decodeName(pathBytes));
            return;
        }
        patient = std::make_unique<Patient>(*dataset, true);
    }
    const Filesystem::Url location = state.location(pathBytes, nameStart);
    for (Study* study : patient->studies)
        for (Series* series : study->series)
            for (Image* image : series->images) {
                image->location = location;
                image->scanOrder = order;
                state.share(image->instanceNumberText);
            }
    collect(std::move(patient), state);
}

namespace {

bool sameSeries(const Patient& a, const Patient& b)
{
    const Study* x = a.studies.front();
    const Study* y = b.studies.front();
    return x->series.front()->seriesInstanceUid == y->series.front()->seriesInstanceUid &&
           x->studyInstanceUid == y->studyInstanceUid && a.patientId == b.patientId && a.patientName == b.patientName;
}

}  // namespace

// An image of the series in hand joins its batch where merging would put it; the batch's
// records are those of its first file, as the merge keeps them.
void Scanner::collect(std::unique_ptr<Patient> patient, ScanState& state)
{
    constexpr std::size_t batchSize = 64;
    const auto onlySeries = [](const Patient& p) { return p.studies.front()->series.front(); };
    const bool single = patient->studies.size() == 1 && patient->studies.front()->series.size() == 1 &&
                        onlySeries(*patient)->images.size() == 1;
    if (single && state.batch && sameSeries(*state.batch, *patient)) {
        Series* series = onlySeries(*state.batch);
        Image* image = onlySeries(*patient)->images.front();
        onlySeries(*patient)->images.clear();
        image->series = series;
        series->insertImage(TreeMerger::insertionPoint(series->images, image), image);
    } else {
        flush(state);
        if (!single) {
            addPatient(patient.release());
            return;
        }
        state.batch = std::move(patient);
    }
    if (onlySeries(*state.batch)->images.size() >= batchSize)
        flush(state);
}

void Scanner::flush(ScanState& state)
{
    if (state.batch)
        addPatient(state.batch.release());
}

// Most files are read straight from their first bytes; what RawHeader declines (and the
// enhanced multi-frame objects, and files without a SOP class, which may be DICOMDIRs) is left
// to DCMTK. Both give the same records.
std::unique_ptr<Patient> Scanner::readHeader(const std::string& path, const std::vector<char>& head,
                                             std::size_t fileSize, ScanState& state, bool& truncated)
{
    RawHeader::Result result = state.header.parse(head.data(), head.size(), head.size() == fileSize);
    if (result == RawHeader::Result::NeedsMoreData) {
        std::size_t size = 0;
        if (!HeaderReadAhead::readStart(path, kLongHeaderBytes, state.buffer, size) ||
            state.buffer.size() != std::min(size, kLongHeaderBytes))
            return nullptr;
        result = state.header.parse(state.buffer.data(), state.buffer.size(), state.buffer.size() == size);
    }
    truncated = result == RawHeader::Result::Truncated;
    if (result != RawHeader::Result::Parsed)
        return nullptr;
    const RecordElements fields(state.header);
    if (!fields.contains(DCM_SOPClassUID) || fields.contains(DCM_SharedFunctionalGroupsSequence))
        return nullptr;
    // The chain Patient(fields, true) builds, with copies of the levels met just before.
    const RecordTags& t = RecordTags::get();
    std::unique_ptr<Patient> patient(state.patient.make(
        fields, {&t.patientId, &t.patientName, &t.patientSex, &t.patientBirthDate, &t.patientComments}, state.key,
        [&] { return new Patient(fields, false); }));
    Study* study =
        state.study.make(fields, {&t.studyInstanceUid, &t.studyId, &t.studyTime, &t.studyDate, &t.studyDescription},
                         state.key, [&] { return new Study(nullptr, fields, false); });
    study->patient = patient.get();
    patient->studies.push_back(study);
    Series* series = state.series.make(fields,
                                       {&t.seriesInstanceUid, &t.sopClassUid, &t.seriesTime, &t.seriesDate,
                                        &t.seriesNumber, &t.modality, &t.seriesDescription},
                                       state.key, [&] { return new Series(nullptr, fields, false); });
    series->study = study;
    study->series.push_back(series);
    auto* image = new Image(series, fields);
    series->images.push_back(image);
    if (!image->imageType.isEmpty())
        series->imageType = image->imageType;
    return patient;
}

void Scanner::scanDicomDir(const QString& dicomDirFile)
{
    scanDicomDirImpl(dicomDirFile, true);
}

void Scanner::scanDicomDirImpl(const QString& path, bool reportProgress)
{
    m_cancel.store(false);
    try {
        readDicomDir(path, reportProgress);
    } catch (const std::exception& e) {
        logException("Cannot read DICOMDIR", path, e.what());
    } catch (...) {
        logException("Cannot read DICOMDIR", path, "unknown error");
    }
}

void Scanner::readDicomDir(const QString& path, bool reportProgress)
{
    // DCMTK would start a new, empty directory for a missing file, and read a file without
    // the DICOM file header (e.g. plain text) as an empty one.
    if (!QFileInfo(path).isFile() || !QFile(path).open(QIODevice::ReadOnly)) {
        DRAVELIN_LOG(4, "", "Could not load DICOMDIR: cannot open " + path);
        return;
    }
    if (!Utils::hasDicomHeader(path.toStdString())) {
        DRAVELIN_LOG(4, "", "Could not load DICOMDIR: no DICOM file header in " + path);
        return;
    }
    DicomDirReader dicomDir;
    if (!dicomDir.readFile(path.toStdString())) {
        DRAVELIN_LOG(4, "", "Could not load DICOMDIR: " + dicomDir.error());
        return;
    }
    if (!dicomDir.convertToUtf8())
        DRAVELIN_LOG(3, "", "Cannot convert DICOM file to UTF8. Assuming Latin1 character encoding.");
    const auto& records = dicomDir.records();
    const auto childrenOf = [&records](std::size_t index, const char* type) {
        std::vector<DcmItem*> items;
        for (const std::size_t child : records[index].children)
            if (records[child].type == type)
                items.push_back(records[child].item);
        return items;
    };
    const int recordCount = int(dicomDir.roots().size());
    if (reportProgress) {
        updateProgress(0, recordCount);
        updateProgressText("Processing files...");
    }
    const QString base = QFileInfo(path).absolutePath();
    const QString canonicalBase = QFileInfo(base).canonicalFilePath();

    int patientsDone = 0;
    for (const std::size_t p : dicomDir.roots()) {
        if (m_cancel.load())
            return;
        if (records[p].type != "PATIENT")
            continue;
        auto patient = std::make_unique<Patient>(*records[p].item, false);
        for (const std::size_t s : records[p].children) {
            if (m_cancel.load())
                return;
            if (records[s].type != "STUDY")
                continue;
            auto study = std::make_unique<Study>(patient.get(), *records[s].item, false);
            for (const std::size_t r : records[s].children) {
                if (m_cancel.load())
                    return;
                if (records[r].type != "SERIES")
                    continue;
                auto series = std::make_unique<Series>(study.get(), *records[r].item, false);
                for (DcmItem* imageRecord : childrenOf(r, "IMAGE")) {
                    OFString fileIdText;
                    if (imageRecord->findAndGetOFStringArray(DCM_ReferencedFileID, fileIdText).bad())
                        continue;
                    const QString fileId = QString::fromUtf8(fileIdText.c_str());
                    const QString location = QString(base + '/' + fileId).replace('\\', '/');
                    if (!isSafeFileId(fileId) || !staysInside(location, canonicalBase)) {
                        DRAVELIN_LOG(3, "",
                                     "Skipping DICOMDIR image record with a file ID outside the DICOMDIR's "
                                     "folder: '" +
                                         fileId + "' in " + path);
                        continue;
                    }
                    auto image = std::make_unique<Image>(series.get(), *imageRecord);
                    image->location = Filesystem::Url::fromLocalFile(location);
                    series->images.push_back(image.release());
                }
                study->series.push_back(series.release());
            }
            patient->studies.push_back(study.release());
        }
        addPatient(patient.release());
        ++patientsDone;
        if (reportProgress)
            updateProgress(patientsDone, recordCount);
    }
}

// --- PACS ----------------------------------------------------------------------------------

void Scanner::setPacs(DicomPacsCommunication* pacs)
{
    if (pacs && Dravelin::Log::isAccepted(2)) {
        const DicomPacsConfiguration& config = pacs->connectionConfiguration();
        Dravelin::Log::log(2, "DICOM", "Using pacs settings:");
        Dravelin::Log::log(2, "DICOM",
                           "Server: " + config.aeTitle + " " + config.hostname + ":" + std::to_string(config.port));
        Dravelin::Log::log(2, "DICOM", "Client: " + config.ownAeTitle + " " + std::to_string(config.ownPort));
    }
    m_pacs = pacs;
}

void Scanner::scanPacs(const QString& patientNameFilter, const QString& studyFilter)
{
    DcmDataset query;
    query.insertEmptyElement(DCM_StudyInstanceUID);
    query.insertEmptyElement(DCM_StudyID);
    query.insertEmptyElement(DCM_StudyTime);
    query.insertEmptyElement(DCM_StudyDate);
    query.putAndInsertOFStringArray(DCM_StudyDescription, studyFilter.toUtf8().constData());
    query.insertEmptyElement(DCM_PatientID);
    query.putAndInsertOFStringArray(DCM_PatientName, patientNameFilter.toUtf8().constData());
    query.insertEmptyElement(DCM_PatientSex);
    query.insertEmptyElement(DCM_PatientBirthDate);
    query.insertEmptyElement(DCM_PatientComments);
    scanPacs(query);
}

void Scanner::scanPacs(const DcmDataset& query)
{
    if (!m_pacs) {
        DRAVELIN_LOG(4, "DICOM", "Please call setPacs with a valid DicomPacsCommunication before scanPacs");
        return;
    }
    m_cancel.store(false);
    updateProgress(0, 0);
    updateProgressText("Retrieving Series from PACS...");
    DcmDataset copy(query);
    copy.putAndInsertString(DCM_QueryRetrieveLevel, "STUDY");
    m_pacs->sendFindRequest(
        DicomPacsCommunication::StudyRoot, copy,
        [this](std::unique_ptr<DcmDataset> response) {
            if (response->convertToUTF8().bad())
                DRAVELIN_LOG(3, "DICOM",
                             "Cannot convert DICOM file to UTF8. Assuming Latin1 character "
                             "encoding.");
            OFString uid;
            if (response->findAndGetOFStringArray(DCM_StudyInstanceUID, uid).bad())
                return;
            auto* patient = new Patient(*response, false);
            auto* study = new Study(patient, *response, false);
            patient->studies.push_back(study);
            study->pacsSeriesProxy = new PacsSeriesProxy(study);
            addPatient(patient);
        },
        &m_cancel);
}

void Scanner::scanPacsSeries(PacsSeriesProxy* proxy)
{
    if (!m_pacs) {
        DRAVELIN_LOG(4, "DICOM", "Please call setPacs with a valid DicomPacsCommunication before scanPacsSeries");
        return;
    }
    if (!proxy || !proxy->study) {
        DRAVELIN_LOG(3, "DICOM", "PacsSeriesProxy has been already resolved");
        return;
    }
    m_cancel.store(false);
    Study* study = proxy->study;
    const std::string studyUid = study->studyInstanceUid.toStdString();

    DcmDataset seriesQuery;
    seriesQuery.putAndInsertString(DCM_QueryRetrieveLevel, "SERIES");
    seriesQuery.putAndInsertString(DCM_StudyInstanceUID, studyUid.c_str());
    for (const DcmTagKey& key : {DCM_SOPClassUID, DCM_SeriesInstanceUID, DCM_SeriesTime, DCM_SeriesDate,
                                 DCM_SeriesNumber, DCM_Modality, DCM_SeriesDescription})
        seriesQuery.insertEmptyElement(key);
    std::vector<std::unique_ptr<Series>> seriesList;
    m_pacs->sendFindRequest(
        DicomPacsCommunication::StudyRoot, seriesQuery,
        [&seriesList](std::unique_ptr<DcmDataset> response) {
            response->convertToUTF8();
            seriesList.push_back(std::make_unique<Series>(nullptr, *response, false));
        },
        nullptr);

    const std::shared_ptr<const Patient> patientTemplate = std::make_shared<Patient>(*study->patient);
    const std::shared_ptr<const Study> studyTemplate = std::make_shared<Study>(*study);
    DRAVELIN_LOG(1, "DICOM", "Found " + std::to_string(seriesList.size()) + " series inside study");

    for (const auto& series : seriesList) {
        const std::shared_ptr<const Series> seriesTemplate = std::make_shared<Series>(*series);
        DcmDataset imageQuery;
        imageQuery.putAndInsertString(DCM_QueryRetrieveLevel, "IMAGE");
        imageQuery.putAndInsertString(DCM_StudyInstanceUID, studyUid.c_str());
        imageQuery.putAndInsertString(DCM_SeriesInstanceUID, series->seriesInstanceUid.toUtf8().constData());
        for (const DcmTagKey& key :
             {DCM_SOPInstanceUID, DCM_InstanceNumber, DCM_AcquisitionNumber, DCM_ImageType, DCM_Columns, DCM_Rows,
              DCM_SamplesPerPixel, DCM_BitsAllocated, DCM_NumberOfFrames, DCM_SliceThickness, DCM_ProtocolName,
              DCM_BodyPartExamined, DCM_Manufacturer, DCM_ManufacturerModelName, DCM_ImagePositionPatient,
              DCM_ImageOrientationPatient, DCM_PixelSpacing, DCM_SpacingBetweenSlices})
            imageQuery.insertEmptyElement(key);
        DcmItem* shared = nullptr;
        if (imageQuery.findOrCreateSequenceItem(DCM_SharedFunctionalGroupsSequence, shared, 0).good() && shared) {
            DcmItem* measures = nullptr;
            if (shared->findOrCreateSequenceItem(DCM_PixelMeasuresSequence, measures, 0).good() && measures) {
                measures->insertEmptyElement(DCM_PixelSpacing);
                measures->insertEmptyElement(DCM_SpacingBetweenSlices);
            }
        }
        const DicomPacsConfiguration config = m_pacs->connectionConfiguration();
        m_pacs->sendFindRequest(
            DicomPacsCommunication::StudyRoot, imageQuery,
            [this, patientTemplate, studyTemplate, seriesTemplate, config](std::unique_ptr<DcmDataset> response) {
                response->convertToUTF8();
                auto* patient = new Patient(*patientTemplate);
                auto* newStudy = new Study(*studyTemplate);
                newStudy->patient = patient;
                patient->studies.push_back(newStudy);
                auto* newSeries = new Series(*seriesTemplate);
                newSeries->study = newStudy;
                newStudy->series.push_back(newSeries);
                auto* image = new Image(newSeries, *response);
                newSeries->images.push_back(image);
                image->location = config.generateUri(*response);
                DRAVELIN_LOG(0, "DICOM", "Received image from PACS: " + image->location.string());
                addPatient(patient);
            },
            &m_cancel);
    }
    if (!m_cancel.load())
        removePacsProxy(proxy);
}

// --- DICOMweb ------------------------------------------------------------------------------

namespace {

// The attributes the records and the geometry estimate read beyond a server's default
// instance attributes, so that no per-instance metadata request is needed.
std::string webInstanceQuery()
{
    static const std::vector<std::pair<unsigned, unsigned>> tags = {
        {0x0008, 0x0008}, {0x0028, 0x0002}, {0x0018, 0x0050}, {0x0018, 0x1030}, {0x0008, 0x0070}, {0x0008, 0x1090},
        {0x0008, 0x0060}, {0x0008, 0x0031}, {0x0008, 0x0021}, {0x0008, 0x103E}, {0x0008, 0x0030}, {0x0008, 0x0020},
        {0x0008, 0x1030}, {0x0008, 0x0022}, {0x0020, 0x0032}, {0x0020, 0x0037}, {0x0028, 0x0030}, {0x0018, 0x0088}};
    std::string query;
    for (const auto& [group, element] : tags)
        query += (query.empty() ? "" : "&") + fmt::format("includefield={:04X}{:04X}", group, element);
    return query;
}

Filesystem::Url webInstanceLocation(DcmItem& instance, const Filesystem::Url& scanUrl)
{
    const auto text = [&](const DcmTagKey& tag) {
        return Element<std::string>(instance, DcmTag(tag), ElementBase::Optional, false).value(std::string());
    };
    const Filesystem::Url retrieve(text(DCM_RetrieveURL));
    if (!retrieve.isEmpty())
        return retrieve;
    Filesystem::Url built = scanUrl;
    built.setQuery({});
    built.setFragment({});
    built.setPath(scanUrl.path() + "/studies/" + text(DCM_StudyInstanceUID) + "/series/" + text(DCM_SeriesInstanceUID) +
                  "/instances/" + text(DCM_SOPInstanceUID));
    return built;
}

}  // namespace

std::optional<Network::HttpError> Scanner::scanWeb(const Filesystem::Url& givenUrl)
{
    QElapsedTimer timer;
    timer.start();
    // Credentials written into the URL are handed to the authorization provider (which the
    // retrievals of the images share), so that they never show in logs or image locations.
    Filesystem::Url url = givenUrl;
    if (!url.userInfo().empty()) {
        std::shared_ptr<Network::HttpAuthorizationProvider> provider = m_cache->authorizationProvider();
        if (!provider) {
            provider = std::make_shared<Network::HttpAuthorizationProvider>();
            m_cache->setAuthorizationProvider(provider);
        }
        if (!provider->hasCredentials())
            provider->setBasic(url.userName(), url.password());
        url.setUserInfo({});
    }
    WebClient client(url);
    client.setAuthorizationProvider(m_cache->authorizationProvider());
    DRAVELIN_LOG(2, "", "Scanning " + client.baseUrl().string());

    Threading::ThreadPool pool(numberOfThreads());
    WebClient::Result studies = client.getStudies(url.query(), true);
    if (auto* error = std::get_if<Network::HttpError>(&studies))
        return *error;

    const std::string instanceQuery = webInstanceQuery();
    std::atomic<int> done{0};
    std::atomic<int> total{1};
    std::mutex errorMutex;
    std::vector<Network::HttpError> errors;
    const auto record = [&](const Network::HttpError& error) {
        std::lock_guard<std::mutex> lock(errorMutex);
        errors.push_back(error);
    };
    updateProgressText("Downloading studies");
    updateProgress(0, total);

    const auto seriesTask = [&](std::shared_ptr<DcmItem> series) {
        WebClient::Result instances = client.getInstances(*series, instanceQuery, false);
        if (auto* error = std::get_if<Network::HttpError>(&instances)) {
            record(*error);
            return;
        }
        const auto& items = std::get<WebClient::Items>(instances);
        total += static_cast<int>(items.size());
        for (const auto& instance : items) {
            auto* patient = new Patient(*instance, true);
            for (Study* study : patient->studies)
                for (Series* oneSeries : study->series)
                    for (Image* image : oneSeries->images)
                        image->location = webInstanceLocation(*instance, url);
            addPatient(patient);
            updateProgress(++done, total);
        }
    };
    const auto studyTask = [&](std::shared_ptr<DcmItem> study) {
        WebClient::Result series = client.getSeries(*study, "", true);
        if (auto* error = std::get_if<Network::HttpError>(&series)) {
            record(*error);
            return;
        }
        for (const auto& item : std::get<WebClient::Items>(series))
            pool.enqueue([&seriesTask, item] { seriesTask(item); });
    };
    for (const auto& study : std::get<WebClient::Items>(studies))
        pool.enqueue([&studyTask, study] { studyTask(study); });

    pool.waitUntilFinished();
    updateProgress(total, total);
    DRAVELIN_LOG(2, "", "Finished scanning in " + std::to_string(timer.elapsed()) + "ms");

    if (errors.empty())
        return std::nullopt;
    DRAVELIN_LOG(4, "",
                 "Scan did not finish successfully (first HTTP status: " + std::to_string(errors.front().code()) + ")");
    for (const auto& error : errors)
        DRAVELIN_LOG(1, "", error.message + " (" + std::to_string(error.code()) + ")");
    return errors.front();
}

}  // namespace Dravelin::Dicom
