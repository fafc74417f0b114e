#pragma once

#include "host/app/AlgorithmControllerFactory.h"

namespace Dravelin {

// The user interfaces of the DICOM algorithms (the host's readers and writer, the tag viewer,
// the editor, the RT structure conversion) and the data controllers of RT structure sets and
// DICOM overlays.
class DicomAlgorithmControllerFactory : public AlgorithmControllerFactory
{
public:
    DicomAlgorithmControllerFactory();
    ~DicomAlgorithmControllerFactory() override;

    // Null for null and for algorithms this factory has no interface for.
    AlgorithmController* create(Algorithm* algorithm) const override;
};

}  // namespace Dravelin
