// Interim version: loads without caching. The bounded, concurrent cache replaces it.
#include "host/dicom/DatasetCache.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <atomic>
#include <map>
#include <mutex>

namespace Dravelin::Dicom {

struct DatasetCache::Private
{
    int capacity = 256;
    std::atomic<long long> parses{0};
    std::mutex mutex;
    std::map<int, ErrorCallback> callbacks;
    int nextHandle = 1;
};

DatasetCache::DatasetCache(int capacity) : d(std::make_unique<Private>())
{
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
    return 0;
}

void DatasetCache::clear() {}

std::shared_ptr<DcmDataset> DatasetCache::loadFromFile(const std::string& path, Progress*, bool withPixelData)
{
    DcmFileFormat file;
    ++d->parses;
    const OFCondition status =
        withPixelData ? file.loadFile(path.c_str())
                      : file.loadFileUntilTag(path.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength,
                                              ERM_autoDetect, DCM_PixelData);
    if (status.bad()) {
        reportError(Error(Error::IoError, Error::Warning, "Cannot read " + path + ": " + status.text()));
        return nullptr;
    }
    return std::shared_ptr<DcmDataset>(file.getAndRemoveDataset());
}

std::vector<std::shared_ptr<DcmDataset>> DatasetCache::load(const Filesystem::Url& url,
                                                            std::vector<std::string>* fileNames, Progress* progress,
                                                            bool complete)
{
    std::vector<std::shared_ptr<DcmDataset>> result;
    if (!url.isLocalFile())
        return result;
    auto ds = loadFromFile(url.localFilePath(), progress, complete);
    if (ds) {
        result.push_back(ds);
        if (fileNames)
            fileNames->push_back(url.localFilePath());
    }
    return result;
}

int DatasetCache::addErrorCallback(ErrorCallback callback)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const int handle = d->nextHandle++;
    d->callbacks.emplace(handle, std::move(callback));
    return handle;
}

void DatasetCache::removeErrorCallback(int handle)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->callbacks.erase(handle);
}

long long DatasetCache::parseCount() const
{
    return d->parses.load();
}

void DatasetCache::reportError(const Error& error) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (auto& [handle, callback] : d->callbacks)
        callback(error);
}

}  // namespace Dravelin::Dicom
