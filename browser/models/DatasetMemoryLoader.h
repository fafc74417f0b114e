#pragma once

#include "host/core/Url.h"

#include <QObject>
#include <QThreadPool>

#include <memory>
#include <mutex>
#include <set>

namespace Dravelin::Dicom {

class DatasetCache;
class DatasetMemoryLoaderRunner;

// Warms the shared dataset cache in the background: queued locations are parsed into the
// cache by the loader's own thread pool, so that a later load or preview finds them in memory.
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

public Q_SLOTS:
    void addToQueue(Dravelin::Filesystem::Url url);
    void cancelAll();
    void cancel(Dravelin::Filesystem::Url url);
    void setMaxThreadCount(int max);

Q_SIGNALS:
    // The number of queued locations not yet loaded or withdrawn, after each change.
    void queueSizeChanged(int filesLeft);

private:
    friend class DatasetMemoryLoaderRunner;

    std::shared_ptr<DatasetCache> m_datasetCache;
    std::mutex m_lock;
    std::set<Filesystem::Url, UrlLess> m_pending;
    QThreadPool m_threadPool;
};

}  // namespace Dravelin::Dicom

Q_DECLARE_METATYPE(Dravelin::Filesystem::Url)
