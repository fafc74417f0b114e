#pragma once

#include "editor/ConfidentialityProfile.h"
#include "host/app/Algorithm.h"
#include "host/properties/SubProperty.h"

namespace Dravelin {

// The algorithm behind the DICOM editor. It only carries the confidentiality profile, as the
// sub-block "confidentialityProfile" of its configuration; the editor does the work.
class DicomEditorAlgorithm : public Algorithm
{
public:
    using ConfidentialityProfile = Dravelin::ConfidentialityProfile;

    DicomEditorAlgorithm();
    ~DicomEditorAlgorithm() override;

    void compute() override;

    SubProperty<ConfidentialityProfile> confidentialityProfile{QStringLiteral("confidentialityProfile"), this};

    // The action table of the profile as the conversion applies it: the profile's
    // configuration, each parameter named like a tag, later ones winning.
    Dicom::DeidentificationActionTable actionTable() const;
};

}  // namespace Dravelin
