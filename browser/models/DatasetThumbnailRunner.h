#pragma once

#include "host/core/Url.h"

#include <QRunnable>

#include <memory>
#include <optional>

namespace Dravelin::Dicom {

class DatasetCache;
class DatasetMemoryLoader;

// Makes one small thumbnail of an image (or one frame of it) on the loader's thumbnail pool and
// hands it to the loader's thumbnailReady signal; a null image when it cannot be decoded.
class DatasetThumbnailRunner : public QRunnable
{
public:
    DatasetThumbnailRunner(DatasetMemoryLoader* loader, std::shared_ptr<DatasetCache> cache, quint64 tag,
                           Filesystem::Url url, std::optional<unsigned> frame, int size);

    void run() override;

private:
    DatasetMemoryLoader* m_loader;  // not owned; outlives the runner (its pool waits for us)
    std::shared_ptr<DatasetCache> m_datasetCache;
    quint64 m_tag;
    Filesystem::Url m_url;
    std::optional<unsigned> m_frame;
    int m_size;
};

}  // namespace Dravelin::Dicom
