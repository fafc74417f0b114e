#pragma once

#include "host/core/Progress.h"
#include "host/core/Url.h"
#include "host/dicom/Error.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin::Network {
class HttpAuthorizationProvider;
}

namespace Dravelin::Dicom {

// Parses DICOM files and keeps the most recently used datasets in memory.
//
// - Bounded: at most capacity() datasets are held (least recently used evicted first).
// - Thread-safe: any thread may load; concurrent loads of one file parse it once.
// - A load without pixel data (a scan's) stops before (7FE0,0010) and is remembered as a
//   header-only entry; a later request for a complete dataset reads the file again in full.
// - Text is converted to UTF-8 when the dataset declares another character set; when that
//   fails the values are kept as stored (logged at level 3).
// - Every load hands out a dataset of its own (a copy of the one kept), which the caller may
//   read and change on any one thread: DCMTK moves an internal cursor even when it only looks
//   an element up, so a dataset shared between threads would not be safe even to read.
// - Values are read into memory in full (nothing is left to be read lazily from the file).
// - Failures never throw: they return null (or an empty list), are logged and reported to
//   the error callbacks.
class DatasetCache
{
public:
    using ErrorCallback = std::function<void(const Error&)>;

    // capacity: the number of datasets kept; 0 or less selects the default (256).
    explicit DatasetCache(int capacity = 0);
    virtual ~DatasetCache();
    DatasetCache(const DatasetCache&) = delete;
    DatasetCache& operator=(const DatasetCache&) = delete;

    int capacity() const;
    int size() const;
    void clear();

    // One file. withPixelData false: header only (pixel data is never read into memory).
    std::shared_ptr<DcmDataset> loadFromFile(const std::string& path, Progress* progress, bool withPixelData);

    // All datasets a location names. File URLs of a single file, or of a folder with the
    // sub-queries "series" (keep only that SeriesInstanceUID), "recursive" ("1": include
    // subfolders) and "ignoreNonDicom" (default "1": skip files without the DICM header;
    // "0": try to parse every file). Results are in natural file-name order; `fileNames`
    // (when given) receives the file of each dataset. `complete` asks for pixel data too.
    virtual std::vector<std::shared_ptr<DcmDataset>> load(const Filesystem::Url& url,
                                                          std::vector<std::string>* fileNames, Progress* progress,
                                                          bool complete);

    // Credentials for http(s) locations (WADO-RS instance, series or study URLs, which `load`
    // retrieves with every instance's URL as its file name); null when none was registered.
    std::shared_ptr<Network::HttpAuthorizationProvider> authorizationProvider() const;
    void setAuthorizationProvider(std::shared_ptr<Network::HttpAuthorizationProvider> provider);

    int addErrorCallback(ErrorCallback callback);
    void removeErrorCallback(int handle);

    // How many times a file was actually parsed (for tests and statistics).
    long long parseCount() const;

protected:
    // Logs the error and hands it to every error callback.
    void reportError(const Error& error) const;

private:
    struct Loaded
    {
        std::shared_ptr<DcmDataset> dataset;
        std::string seriesUid;
    };
    Loaded loadParsed(const std::string& path, bool withPixelData);

    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace Dravelin::Dicom
