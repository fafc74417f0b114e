#pragma once

#include "host/data/DataComponent.h"

#include <QString>

namespace Dravelin {

// Which DICOM series and frame of reference an image set was read from, so that data drawn on
// it (RT structures, overlays) can find it again.
class ImageInfoDataComponent : public DataComponent
{
public:
    ImageInfoDataComponent(QString seriesInstanceUid, QString frameOfReferenceUid, QString sopClassUid = {});

    QString id() const override;
    std::unique_ptr<DataComponent> clone() const override;

    const QString& seriesInstanceUid() const { return m_series; }
    const QString& frameOfReferenceUid() const { return m_frameOfReference; }
    const QString& sopClassUid() const { return m_sopClass; }
    // The text that references to this image set name: its SeriesInstanceUID.
    const QString& identifier() const { return m_series; }

private:
    QString m_series;
    QString m_frameOfReference;
    QString m_sopClass;
};

}  // namespace Dravelin
