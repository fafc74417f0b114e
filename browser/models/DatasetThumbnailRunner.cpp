#include "browser/models/DatasetThumbnailRunner.h"

#include "browser/models/DatasetMemoryLoader.h"
#include "browser/models/QtHelpers.h"
#include "host/core/Log.h"
#include "host/dicom/DatasetCache.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <QImage>

#include <exception>

namespace Dravelin::Dicom {

DatasetThumbnailRunner::DatasetThumbnailRunner(DatasetMemoryLoader* loader, std::shared_ptr<DatasetCache> cache,
                                               quint64 tag, Filesystem::Url url, std::optional<unsigned> frame,
                                               int size)
    : m_loader(loader),
      m_datasetCache(std::move(cache)),
      m_tag(tag),
      m_url(std::move(url)),
      m_frame(frame),
      m_size(size)
{
    setAutoDelete(true);
}

void DatasetThumbnailRunner::run()
{
    QImage thumbnail;
    try {
        const auto datasets = m_datasetCache->load(m_url, nullptr, nullptr, true);
        if (!datasets.empty() && datasets.front()) {
            // Rendering may change the dataset; the cached one stays as it was read.
            DcmDataset copy(*datasets.front());
            const QImage image = QtHelpers::generateThumbnail(copy, true, m_frame);
            if (!image.isNull())
                thumbnail = image.scaled(m_size, m_size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        }
    } catch (const std::exception& e) {
        Log::log(1, "Dicom", "No thumbnail of " + m_url.string() + ": " + e.what(), __FILE__, __LINE__);
    }
    Q_EMIT m_loader->thumbnailReady(m_tag, thumbnail);
}

}  // namespace Dravelin::Dicom
