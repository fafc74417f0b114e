#pragma once

#include "host/app/AlgorithmFactory.h"

namespace Dravelin {

// The algorithms of the DICOM front end: "Show DICOM Tags" for a loaded DICOM image set and
// "Tools;DICOM Editor" when nothing is selected. Placed ahead of the factories before it.
class DicomGuiAlgorithmFactory : public AlgorithmFactory
{
public:
    DicomGuiAlgorithmFactory();
    ~DicomGuiAlgorithmFactory() override;

    bool addAlgorithmFactoryToFront() const override;
};

}  // namespace Dravelin
