#pragma once

#include "host/dicom/io/DicomIoAlgorithm.h"

namespace Dravelin {

// Opens one DICOM file chosen by the user.
class DicomIOAlgorithmFile : public DicomIoAlgorithm
{
public:
    using DicomIoAlgorithm::DicomIoAlgorithm;
    QString name() const override { return QStringLiteral("DICOM File"); }
};

}  // namespace Dravelin
