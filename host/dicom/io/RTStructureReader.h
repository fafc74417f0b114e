#pragma once

#include "host/dicom/Error.h"

#include <memory>
#include <vector>

class DcmDataset;

namespace Dravelin {
class DataGroup;
}

namespace Dravelin::Dicom {

// RT structure sets to data: one DataGroup per structure set (named by its label) holding one
// PointCloud per region of interest, with a Dicom::RTStructureDataComponent.
class RTStructureReader
{
public:
    // Datasets of other modalities are skipped; problems are appended to `errors`.
    static std::vector<std::unique_ptr<DataGroup>> read(const std::vector<std::shared_ptr<DcmDataset>>& datasets,
                                                        std::vector<Error>& errors);
};

}  // namespace Dravelin::Dicom
