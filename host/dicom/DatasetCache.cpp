#include "host/dicom/DatasetCache.h"

#include "host/core/NaturalOrder.h"
#include "host/dicom/dicomweb/WadoRetriever.h"

#include "host/core/Log.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/HeaderParser.h"
#include "host/dicom/HeaderReadAhead.h"
#include "host/dicom/dimse/PacsRetriever.h"
#include "host/dicom/StructureCheck.h"
#include "host/dicom/Utils.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcobject.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <unordered_map>

namespace Dravelin::Dicom {

namespace {

using DatasetPtr = std::shared_ptr<DcmDataset>;

// Values are read into memory up to this length. DCMTK would otherwise read longer values
// lazily from the file on first access, which races when two threads touch the same shared
// dataset and breaks when the file changes after the scan.
constexpr Uint32 kNoReadLimit = 0xFFFFFFFEu;

std::string trimmedCharset(const OFString& value)
{
    std::string s(value.c_str());
    while (!s.empty() && (s.front() == ' ' || s.front() == '\\'))
        s.erase(0, 1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

// What a parse yields. The series UID is read once while the dataset is still private to the
// parsing thread: DCMTK's element lookup moves a cursor inside the item, so reading a shared
// dataset from several threads at once is not safe.
struct Parsed
{
    DatasetPtr dataset;
    std::string seriesUid;
    // Held while the dataset is copied: copying reads it, and DCMTK moves its cursor even then.
    std::shared_ptr<std::mutex> copyMutex;
};

// Every caller gets a dataset of its own. The kept dataset is never handed out, so no two
// threads ever read one dataset at the same time (DCMTK moves an item's cursor on lookups).
DatasetPtr copyOf(const Parsed& parsed)
{
    if (!parsed.dataset)
        return nullptr;
    std::lock_guard<std::mutex> lock(*parsed.copyMutex);
    return std::make_shared<DcmDataset>(*parsed.dataset);
}

// Headers usually end within the first kilobytes. A header that does not fit the small chunk
// is tried with the large one, then read through DCMTK's file stream.
constexpr size_t kSmallHeaderChunk = HeaderReadAhead::DefaultBytes;
constexpr size_t kLargeHeaderChunk = 512 * 1024;

enum class ChunkResult { Parsed, Failed, NeedsFileStream };

// Parses the first bytes of a file (all of it when they are as long as the file) up to the
// pixel data.
ChunkResult parseHeaderBytes(const std::vector<char>& buffer, size_t fileSize, DcmFileFormat& file, std::string& error)
{
    const size_t filled = buffer.size();
    if (filled == 0) {
        error = "the file is empty";
        return ChunkResult::Failed;
    }
    const bool wholeFile = filled == fileSize;
    switch (HeaderParser::parse(buffer.data(), filled, wholeFile, *file.getDataset())) {
        case HeaderParser::Result::Parsed: return ChunkResult::Parsed;
        case HeaderParser::Result::NeedsMoreData: return ChunkResult::NeedsFileStream;
        case HeaderParser::Result::Unsupported: file.clear(); break;
    }

    DcmInputBufferStream stream;
    stream.setBuffer(buffer.data(), static_cast<offile_off_t>(filled));
    if (wholeFile)
        stream.setEos();
    file.transferInit();
    const OFCondition status = file.readUntilTag(stream, EXS_Unknown, EGL_noChange, kNoReadLimit, DCM_PixelData);
    file.transferEnd();
    stream.releaseBuffer();
    if (status.good())
        return ChunkResult::Parsed;
    if (status == EC_StreamNotifyClient && !wholeFile)
        return ChunkResult::NeedsFileStream;
    error = status.text();
    return ChunkResult::Failed;
}

// Reads the start of the file with one system call and parses it up to the pixel data from
// memory. DCMTK's file stream seeks and stats repeatedly, which dominates for small files.
// `readAhead`: the first bytes of the file when a scan has just read them to check the preamble.
ChunkResult parseHeaderChunk(const std::string& path, size_t chunkSize, const std::vector<char>* readAhead,
                             std::size_t readAheadSize, DcmFileFormat& file, std::string& error)
{
    if (readAhead && chunkSize == HeaderReadAhead::DefaultBytes)
        return parseHeaderBytes(*readAhead, readAheadSize, file, error);
    thread_local std::vector<char> buffer;
    std::size_t size = 0;
    // DCMTK reports why a file cannot be read.
    if (!HeaderReadAhead::readStart(path, chunkSize, buffer, size) || buffer.size() != std::min(size, chunkSize))
        return ChunkResult::NeedsFileStream;
    return parseHeaderBytes(buffer, size, file, error);
}

struct Entry
{
    Parsed parsed;
    bool complete = false;
    std::list<std::string>::iterator lruPosition;
};

std::vector<std::string> listFiles(const QString& folder, bool recursive)
{
    std::vector<QString> found;
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().compare(QLatin1String("DICOMDIR"), Qt::CaseInsensitive) != 0)
            found.push_back(path);
    }
    const QCollator collator = naturalOrderCollator();
    std::stable_sort(found.begin(), found.end(),
                     [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    std::vector<std::string> files;
    files.reserve(found.size());
    for (const QString& f : found)
        files.push_back(QFile::encodeName(f).toStdString());
    return files;
}

}  // namespace

struct DatasetCache::Private
{
    int capacity = 256;
    std::atomic<long long> parses{0};

    std::mutex mutex;  // guards the entries, the LRU order and the loads in flight
    std::unordered_map<std::string, Entry> entries;
    std::list<std::string> lru;  // most recently used first
    // Keyed by path; a complete load and a header-only load of one file may run side by side.
    std::unordered_map<std::string, std::shared_future<Parsed>> loadingHeaders;
    std::unordered_map<std::string, std::shared_future<Parsed>> loadingComplete;

    mutable std::mutex callbackMutex;
    std::map<int, ErrorCallback> callbacks;
    int nextHandle = 1;

    WadoRetriever wado;

    DatasetPtr parse(const std::string& path, bool withPixelData, bool convertCharset, std::string& error);
    // Stores the result; evicted datasets are moved to `released` so they die outside the lock.
    void store(const std::string& path, const Parsed& parsed, bool complete, std::vector<DatasetPtr>& released);
};

DatasetPtr DatasetCache::Private::parse(const std::string& path, bool withPixelData, bool convertCharset,
                                        std::string& error)
{
    ++parses;
    std::size_t readAheadSize = 0;
    const std::vector<char>* readAhead = withPixelData ? nullptr : HeaderReadAhead::take(path, readAheadSize);
    // What DCMTK cannot parse safely (deep nesting, no elements, deflate bombs, FIFOs) never
    // reaches it. A retry without charset conversion reads bytes that were checked already.
    if (convertCharset) {
        const StructureCheck::Result checked =
            StructureCheck::checkFile(path, !withPixelData, readAhead, readAheadSize);
        if (!checked.ok()) {
            error = checked.problem;
            return nullptr;
        }
    }
    DcmFileFormat file;
    ChunkResult chunk = ChunkResult::NeedsFileStream;
    if (!withPixelData) {
        chunk = parseHeaderChunk(path, kSmallHeaderChunk, readAhead, readAheadSize, file, error);
        if (chunk == ChunkResult::NeedsFileStream) {
            file.clear();
            chunk = parseHeaderChunk(path, kLargeHeaderChunk, nullptr, 0, file, error);
        }
        if (chunk == ChunkResult::NeedsFileStream)
            file.clear();
    }
    if (chunk == ChunkResult::Failed)
        return nullptr;
    if (chunk == ChunkResult::NeedsFileStream) {
        const OFCondition status =
            withPixelData ? file.loadFile(path.c_str(), EXS_Unknown, EGL_noChange, kNoReadLimit, ERM_autoDetect)
                          : file.loadFileUntilTag(path.c_str(), EXS_Unknown, EGL_noChange, kNoReadLimit, ERM_autoDetect,
                                                  DCM_PixelData);
        if (status.bad()) {
            error = status.text();
            return nullptr;
        }
    }
    DcmDataset* dataset = file.getDataset();
    if (!dataset || dataset->card() == 0) {
        error = "no data elements";
        return nullptr;
    }

    OFString charset;
    if (convertCharset && dataset->findAndGetOFStringArray(DCM_SpecificCharacterSet, charset).good() &&
        Utils::needsUtf8Conversion(charset.c_str())) {
        const OFCondition converted = dataset->convertToUTF8();
        if (converted.bad()) {
            Log::log(3, "DICOM",
                     "Cannot convert the character set '" + trimmedCharset(charset) + "' of '" + path +
                         "' to UTF-8, values are kept as stored: " + converted.text(),
                     __FILE__, __LINE__);
            // A conversion that failed half-way may have changed some values: read them again.
            return parse(path, withPixelData, false, error);
        }
    }
    return DatasetPtr(file.getAndRemoveDataset());
}

void DatasetCache::Private::store(const std::string& path, const Parsed& parsed, bool complete,
                                  std::vector<DatasetPtr>& released)
{
    auto it = entries.find(path);
    if (it != entries.end()) {
        // A complete entry stays complete: a header-only load that finished later does not replace it.
        if (complete || !it->second.complete) {
            released.push_back(std::move(it->second.parsed.dataset));
            it->second.parsed = parsed;
            it->second.complete = complete;
        }
        lru.splice(lru.begin(), lru, it->second.lruPosition);
        return;
    }
    lru.push_front(path);
    entries.emplace(path, Entry{parsed, complete, lru.begin()});
    while (static_cast<int>(entries.size()) > capacity && !lru.empty()) {
        auto victim = entries.find(lru.back());
        released.push_back(std::move(victim->second.parsed.dataset));
        entries.erase(victim);
        lru.pop_back();
    }
}

DatasetCache::DatasetCache(int capacity) : d(std::make_unique<Private>())
{
    Utils::silenceDcmtkLogging();
    // Some writers store known attributes with VR UN (some RT dose files store
    // SeriesInstanceUID so). DCMTK then hands out their bytes escaped ("31\2e\32..."); with
    // this switch it reads them with the dictionary's VR, so they compare and display as text.
    static std::once_flag once;
    std::call_once(once, [] { dcmEnableUnknownVRConversion.set(OFTrue); });
    if (capacity > 0)
        d->capacity = capacity;
}

DatasetCache::~DatasetCache() = default;

int DatasetCache::capacity() const
{
    return d->capacity;
}

int DatasetCache::size() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return static_cast<int>(d->entries.size());
}

void DatasetCache::clear()
{
    std::unordered_map<std::string, Entry> dropped;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        dropped.swap(d->entries);
        d->lru.clear();
    }
}

std::shared_ptr<DcmDataset> DatasetCache::loadFromFile(const std::string& path, Progress*, bool withPixelData)
{
    return loadParsed(path, withPixelData).dataset;
}

DatasetCache::Loaded DatasetCache::loadParsed(const std::string& path, bool withPixelData)
{
    if (path.empty()) {
        reportError(Error(Error::IoError, Error::Warning, "Cannot read a DICOM file without a name"));
        return {};
    }
    std::promise<Parsed> promise;
    std::shared_future<Parsed> pending;
    Parsed found;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        auto it = d->entries.find(path);
        if (it != d->entries.end() && (it->second.complete || !withPixelData)) {
            d->lru.splice(d->lru.begin(), d->lru, it->second.lruPosition);
            found = it->second.parsed;
        }
        // A complete load in flight serves a header request as well.
        if (!found.dataset && !withPixelData) {
            auto c = d->loadingComplete.find(path);
            if (c != d->loadingComplete.end())
                pending = c->second;
        }
        auto& loading = withPixelData ? d->loadingComplete : d->loadingHeaders;
        if (!found.dataset && !pending.valid()) {
            auto l = loading.find(path);
            if (l != loading.end())
                pending = l->second;
        }
        if (!found.dataset && !pending.valid())
            loading.emplace(path, promise.get_future().share());
    }
    // Copied outside the cache's lock; the dataset's own lock orders concurrent copies.
    if (found.dataset)
        return {copyOf(found), found.seriesUid};
    if (pending.valid()) {
        const Parsed& parsed = pending.get();
        return {copyOf(parsed), parsed.seriesUid};
    }

    Parsed parsed;
    std::string error;
    try {
        parsed.dataset = d->parse(path, withPixelData, true, error);
        OFString uid;
        if (parsed.dataset && parsed.dataset->findAndGetOFString(DCM_SeriesInstanceUID, uid).good())
            parsed.seriesUid = uid.c_str();
        parsed.copyMutex = std::make_shared<std::mutex>();
    } catch (const std::exception& e) {
        parsed.dataset.reset();
        error = e.what();
    }
    std::vector<DatasetPtr> released;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (parsed.dataset)
            d->store(path, parsed, withPixelData, released);
        (withPixelData ? d->loadingComplete : d->loadingHeaders).erase(path);
    }
    promise.set_value(parsed);
    if (!parsed.dataset)
        reportError(Error(Error::IoError, Error::Warning, "Cannot read DICOM file '" + path + "': " + error));
    return {copyOf(parsed), parsed.seriesUid};
}

std::vector<std::shared_ptr<DcmDataset>> DatasetCache::load(const Filesystem::Url& url,
                                                            std::vector<std::string>* fileNames, Progress* progress,
                                                            bool complete)
{
    std::vector<std::shared_ptr<DcmDataset>> result;
    if (url.scheme() == DicomPacsConfiguration::Scheme)
        return PacsRetriever([this](const Error& error) { reportError(error); })
            .retrieve(url, fileNames, progress, complete);
    if (url.scheme() == "http" || url.scheme() == "https") {
        WadoRetriever::Result retrieved = d->wado.retrieve(url, progress, complete);
        for (const Error& error : retrieved.errors)
            reportError(error);
        if (fileNames)
            fileNames->insert(fileNames->end(), retrieved.names.begin(), retrieved.names.end());
        return std::move(retrieved.datasets);
    }
    if (!url.isLocalFile()) {
        reportError(Error(Error::NotSupported, Error::Fatal,
                          "Cannot load DICOM data from '" + url.string() + "': unsupported location"));
        return result;
    }
    const QString path = QFile::decodeName(url.localFilePath().c_str());
    const QFileInfo info(path);
    if (!info.exists()) {
        reportError(Error(Error::IoError, Error::Fatal, "The location '" + url.localFilePath() + "' does not exist"));
        return result;
    }
    const bool ignoreNonDicom = url.subquery("ignoreNonDicom").value_or("1") != "0";
    const bool recursive = url.subquery("recursive").value_or("0") == "1";
    const std::optional<std::string> series = url.subquery("series");

    const bool folder = info.isDir();
    const std::vector<std::string> files = folder ? listFiles(path, recursive) : std::vector{url.localFilePath()};
    if (progress)
        progress->setRange(static_cast<long long>(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        if (progress && progress->wasCancelled())
            break;
        const std::string& file = files[i];
        if (ignoreNonDicom && !Utils::hasDicomHeader(file)) {
            if (!folder)
                reportError(Error(Error::IoError, Error::Warning, "'" + file + "' has no DICOM file header"));
            continue;
        }
        std::shared_ptr<DcmDataset> dataset;
        if (series) {
            // Filter on the header so that files of other series never have their pixels read.
            const Loaded header = loadParsed(file, false);
            if (header.dataset && header.seriesUid == *series)
                dataset = complete ? loadFromFile(file, nullptr, true) : header.dataset;
        } else {
            dataset = loadFromFile(file, nullptr, complete);
        }
        // A file set's directory under another name than DICOMDIR is no image either.
        if (dataset && folder && !dataset->tagExists(DCM_SOPClassUID) && Utils::isDicomdirFile(file))
            dataset.reset();
        if (dataset) {
            result.push_back(std::move(dataset));
            if (fileNames)
                fileNames->push_back(file);
        }
        if (progress)
            progress->setValue(static_cast<long long>(i + 1));
    }
    return result;
}

std::shared_ptr<Network::HttpAuthorizationProvider> DatasetCache::authorizationProvider() const
{
    return d->wado.authorizationProvider();
}

void DatasetCache::setAuthorizationProvider(std::shared_ptr<Network::HttpAuthorizationProvider> provider)
{
    d->wado.setAuthorizationProvider(std::move(provider));
}

int DatasetCache::addErrorCallback(ErrorCallback callback)
{
    std::lock_guard<std::mutex> lock(d->callbackMutex);
    const int handle = d->nextHandle++;
    d->callbacks.emplace(handle, std::move(callback));
    return handle;
}

void DatasetCache::removeErrorCallback(int handle)
{
    std::lock_guard<std::mutex> lock(d->callbackMutex);
    d->callbacks.erase(handle);
}

long long DatasetCache::parseCount() const
{
    return d->parses.load();
}

void DatasetCache::reportError(const Error& error) const
{
    // A file that does not parse is routine in a folder scan: informational, not a warning.
    const int level = error.type == Error::Fatal ? 3 : 1;
    if (Log::isAccepted(level))
        Log::log(level, "DICOM", error.text(), __FILE__, __LINE__);
    std::vector<ErrorCallback> callbacks;
    {
        std::lock_guard<std::mutex> lock(d->callbackMutex);
        for (const auto& [handle, callback] : d->callbacks)
            callbacks.push_back(callback);
    }
    // Called without the lock, so that a callback may add or remove callbacks.
    for (const auto& callback : callbacks) {
        try {
            callback(error);
        } catch (...) {
            Log::log(3, "DICOM", "An error callback of the dataset cache threw", __FILE__, __LINE__);
        }
    }
}

}  // namespace Dravelin::Dicom
