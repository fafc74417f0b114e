#include "browser/models/DatasetMemoryLoader.h"

#include "browser/models/DatasetMemoryLoaderRunner.h"
#include "browser/models/DatasetThumbnailRunner.h"
#include "host/core/Log.h"

namespace Dravelin::Dicom {

bool DatasetMemoryLoader::UrlLess::operator()(const Filesystem::Url& a, const Filesystem::Url& b) const
{
    return a.string() < b.string();
}

DatasetMemoryLoader::DatasetMemoryLoader(std::shared_ptr<DatasetCache> cache, QObject* parent)
    : QObject(parent), m_datasetCache(std::move(cache))
{
    qRegisterMetaType<Filesystem::Url>("Dravelin::Filesystem::Url");
    m_threadPool.setMaxThreadCount(1);
    // One thread: thumbnails are a nicety and must not take a core from a running scan.
    m_thumbnailPool.setMaxThreadCount(1);
}

DatasetMemoryLoader::~DatasetMemoryLoader()
{
    cancelAll();
    cancelThumbnails();
    // Runners already running use the lock, the pending set and our signals: wait for them first.
    m_threadPool.waitForDone();
    m_thumbnailPool.waitForDone();
}

void DatasetMemoryLoader::setDatasetCache(std::shared_ptr<DatasetCache> cache)
{
    m_datasetCache = std::move(cache);
}

void DatasetMemoryLoader::addToQueue(Filesystem::Url url)
{
    std::shared_ptr<DatasetCache> cache = m_datasetCache;
    if (!cache)
        return;
    int size = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_pending.insert(url).second)
            return;
        size = static_cast<int>(m_pending.size());
    }
    emit queueSizeChanged(size);
    m_threadPool.start(new DatasetMemoryLoaderRunner(this, std::move(cache), std::move(url)), 0);
}

void DatasetMemoryLoader::cancelAll()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pending.clear();
    }
    m_threadPool.clear();
    emit queueSizeChanged(0);
}

void DatasetMemoryLoader::cancel(Filesystem::Url url)
{
    int size = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pending.erase(url);
        size = static_cast<int>(m_pending.size());
    }
    emit queueSizeChanged(size);
}

void DatasetMemoryLoader::addThumbnailRequest(quint64 tag, Filesystem::Url url, std::optional<unsigned> frame, int size,
                                              int priority)
{
    std::shared_ptr<DatasetCache> cache = m_datasetCache;
    if (!cache)
        return;
    m_thumbnailPool.start(new DatasetThumbnailRunner(this, std::move(cache), tag, std::move(url), frame, size),
                          priority);
}

void DatasetMemoryLoader::cancelThumbnails()
{
    m_thumbnailPool.clear();
}

void DatasetMemoryLoader::setMaxThreadCount(int max)
{
    Log::log(0, "", "Using " + std::to_string(max) + " thread for loading datasets into memory");
    m_threadPool.setMaxThreadCount(max);
}

}  // namespace Dravelin::Dicom

#include "moc_DatasetMemoryLoader.cpp"
