// Interim version: reports nothing. The grouping loader replaces it.
#include "host/dicom/DicomLoader.h"

#include "host/dicom/DatasetCache.h"

namespace Dravelin {

DicomLoader::DicomLoader(std::vector<std::string> locations, Progress* progress,
                         std::shared_ptr<Dicom::DatasetCache> cache, Dicom::IOD_Registry* registry)
    : m_locations(std::move(locations)), m_progress(progress), m_cache(std::move(cache)), m_registry(registry)
{
}

DicomLoader::~DicomLoader() = default;

std::vector<std::vector<ImageDescriptor>> DicomLoader::loadDescriptors()
{
    return {};
}

}  // namespace Dravelin
