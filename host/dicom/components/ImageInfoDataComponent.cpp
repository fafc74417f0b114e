#include "host/dicom/components/ImageInfoDataComponent.h"

namespace Dravelin {

ImageInfoDataComponent::ImageInfoDataComponent(QString seriesInstanceUid, QString frameOfReferenceUid,
                                               QString sopClassUid)
    : m_series(std::move(seriesInstanceUid)),
      m_frameOfReference(std::move(frameOfReferenceUid)),
      m_sopClass(std::move(sopClassUid))
{
}

QString ImageInfoDataComponent::id() const
{
    return QStringLiteral("ImageInfo");
}

std::unique_ptr<DataComponent> ImageInfoDataComponent::clone() const
{
    return std::make_unique<ImageInfoDataComponent>(m_series, m_frameOfReference, m_sopClass);
}

}  // namespace Dravelin
