#include "browser/models/DatasetMemoryLoaderRunner.h"

#include "browser/models/DatasetMemoryLoader.h"
#include "host/dicom/DatasetCache.h"

namespace Dravelin::Dicom {

DatasetMemoryLoaderRunner::DatasetMemoryLoaderRunner(DatasetMemoryLoader* loader, std::shared_ptr<DatasetCache> cache,
                                                     Filesystem::Url url)
    : m_loader(loader), m_datasetCache(std::move(cache)), m_url(std::move(url))
{
    setAutoDelete(true);
}

void DatasetMemoryLoaderRunner::run()
{
    {
        std::lock_guard<std::mutex> lock(m_loader->m_lock);
        if (m_loader->m_pending.count(m_url) == 0)
            return;
    }
    // The cache keeps what it parsed; the returned handles are not needed here.
    m_datasetCache->load(m_url, nullptr, nullptr, true);
    int size = 0;
    {
        std::lock_guard<std::mutex> lock(m_loader->m_lock);
        m_loader->m_pending.erase(m_url);
        size = static_cast<int>(m_loader->m_pending.size());
    }
    emit m_loader->queueSizeChanged(size);
}

}  // namespace Dravelin::Dicom
