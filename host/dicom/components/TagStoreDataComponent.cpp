#include "host/dicom/components/TagStoreDataComponent.h"

namespace Dravelin::Dicom {

TagStoreDataComponent::TagStoreDataComponent(std::vector<std::shared_ptr<DcmDataset>> datasets)
    : m_datasets(std::move(datasets))
{
}

QString TagStoreDataComponent::id() const
{
    return QStringLiteral("DicomTagStore");
}

std::unique_ptr<DataComponent> TagStoreDataComponent::clone() const
{
    return std::make_unique<TagStoreDataComponent>(m_datasets);
}

std::shared_ptr<DcmDataset> TagStoreDataComponent::dataset(int frame) const
{
    if (frame < 0 || frame >= size())
        return nullptr;
    return m_datasets[static_cast<std::size_t>(frame)];
}

}  // namespace Dravelin::Dicom
