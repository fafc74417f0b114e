#pragma once

#include "host/core/Url.h"

#include <QImage>
#include <QObject>
#include <QThreadPool>

#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace Dravelin::Dicom {

class DatasetCache;
class DatasetMemoryLoaderRunner;
class DatasetThumbnailRunner;

// Warms the shared dataset cache in the background: queued locations are parsed into the
// cache by the loader's own thread pool, so that a later load or preview finds them in memory.
// It also makes small thumbnails (of series rows) on a second pool, which withdrawing loads
// leaves alone.
class DatasetMemoryLoader : public QObject
{
    Q_OBJECT

public:
    // Orders locations by their plain text, so two locations with the same text are one entry.
    struct UrlLess
    {
        bool operator()(const Filesystem::Url& a, const Filesystem::Url& b) const;
    };

    explicit DatasetMemoryLoader(std::shared_ptr<DatasetCache> cache, QObject* parent = nullptr);
    ~DatasetMemoryLoader() override;
    DatasetMemoryLoader(const DatasetMemoryLoader&) = delete;
    DatasetMemoryLoader& operator=(const DatasetMemoryLoader&) = delete;

    // Runners created afterwards load into this cache; a null cache stops queuing.
    void setDatasetCache(std::shared_ptr<DatasetCache> cache);

    // Queues a thumbnail of at most size x size pixels of the image at `url` (of `frame`, when
    // given); thumbnailReady(tag, ...) follows from a worker. Higher priorities go first.
    void addThumbnailRequest(quint64 tag, Filesystem::Url url, std::optional<unsigned> frame, int size, int priority);
    // Drops the thumbnail requests not started yet (a running one still reports).
    void cancelThumbnails();

public Q_SLOTS:
    void addToQueue(Dravelin::Filesystem::Url url);
    void cancelAll();
    void cancel(Dravelin::Filesystem::Url url);
    void setMaxThreadCount(int max);

Q_SIGNALS:
    // The number of queued locations not yet loaded or withdrawn, after each change.
    void queueSizeChanged(int filesLeft);
    // Emitted from a worker thread; a null image when the image could not be decoded.
    void thumbnailReady(quint64 tag, QImage thumbnail);

private:
    friend class DatasetMemoryLoaderRunner;
    friend class DatasetThumbnailRunner;

    std::shared_ptr<DatasetCache> m_datasetCache;
    std::mutex m_lock;
    std::set<Filesystem::Url, UrlLess> m_pending;
    QThreadPool m_threadPool;
    QThreadPool m_thumbnailPool;
};

}  // namespace Dravelin::Dicom

Q_DECLARE_METATYPE(Dravelin::Filesystem::Url)
