#pragma once

#include "host/data/DataComponent.h"

#include <memory>
#include <vector>

class DcmDataset;

namespace Dravelin::Dicom {

// The DICOM datasets behind an image set: one per frame, in frame order (images after images).
// Datasets are shared with the loader and must not be modified: copy one to change it.
class TagStoreDataComponent : public DataComponent
{
public:
    explicit TagStoreDataComponent(std::vector<std::shared_ptr<DcmDataset>> datasets = {});

    QString id() const override;
    std::unique_ptr<DataComponent> clone() const override;

    std::vector<std::shared_ptr<DcmDataset>> extractDatasets() const { return m_datasets; }
    int size() const { return static_cast<int>(m_datasets.size()); }
    // The dataset of one frame, or null when out of range.
    std::shared_ptr<DcmDataset> dataset(int frame) const;

private:
    std::vector<std::shared_ptr<DcmDataset>> m_datasets;
};

}  // namespace Dravelin::Dicom
