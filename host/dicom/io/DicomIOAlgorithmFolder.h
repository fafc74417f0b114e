#pragma once

#include "host/dicom/io/DicomIoAlgorithm.h"

namespace Dravelin {

// Opens a DICOM folder (or DICOMDIR) chosen by the user.
class DicomIOAlgorithmFolder : public DicomIoAlgorithm
{
public:
    using DicomIoAlgorithm::DicomIoAlgorithm;
    QString name() const override { return QStringLiteral("DICOM Folder"); }
};

}  // namespace Dravelin
