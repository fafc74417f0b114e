#pragma once

#include "host/core/Url.h"

#include <QRunnable>

#include <memory>

namespace Dravelin::Dicom {

class DatasetCache;
class DatasetMemoryLoader;

// Loads one queued location into the cache, unless it was withdrawn before the runner started.
class DatasetMemoryLoaderRunner : public QRunnable
{
public:
    DatasetMemoryLoaderRunner(DatasetMemoryLoader* loader, std::shared_ptr<DatasetCache> cache, Filesystem::Url url);

    void run() override;

private:
    DatasetMemoryLoader* m_loader;  // not owned; outlives the runner (its pool waits for us)
    std::shared_ptr<DatasetCache> m_datasetCache;
    Filesystem::Url m_url;
};

}  // namespace Dravelin::Dicom
