#include "editor/DicomEditorAlgorithm.h"

namespace Dravelin {

DicomEditorAlgorithm::DicomEditorAlgorithm() = default;

DicomEditorAlgorithm::~DicomEditorAlgorithm() = default;

void DicomEditorAlgorithm::compute()
{
    // The editor window converts the files; the algorithm only carries the profile.
    setStatus(Success);
}

Dicom::DeidentificationActionTable DicomEditorAlgorithm::actionTable() const
{
    return confidentialityProfile->actionTable();
}

}  // namespace Dravelin
