#pragma once

#include "host/dicom/io/DicomIoAlgorithm.h"

namespace Dravelin {

// Opens the series chosen in the DICOM browser.
class DicomIOAlgorithmBrowser : public DicomIoAlgorithm
{
public:
    using DicomIoAlgorithm::DicomIoAlgorithm;
    QString name() const override { return QStringLiteral("DICOM Browser"); }
};

}  // namespace Dravelin
