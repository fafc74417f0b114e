#pragma once

#include "host/dicom/Error.h"
#include "host/dicom/io/Extension.h"

#include <functional>
#include <memory>
#include <vector>

class DcmDataset;
class DcmItem;

namespace Dravelin {
class SharedImageSet;
}

namespace Dravelin::Dicom {

class IOD_Registry;

// Adds the pixel data of dataset `index` to `dataset` (a copy of it); safe to call from several
// threads at once.
using PixelSource = std::function<void(std::size_t index, DcmItem& dataset)>;

// Turns an image set into the datasets of new DICOM instances, holding the values as they were
// loaded (native pixel data; DicomWriter fits it to the chosen transfer syntax, on a copy).
//
// - Grey images of a CT or MR set become one instance per slice of that modality's image IOD
//   with its position, orientation and spacing; an RT dose set one multi-frame RT Dose
//   instance per image; everything else one multi-frame Secondary Capture instance per image
//   (byte, word or true colour).
// - Patient, study, frame of reference, equipment and acquisition attributes come from the
//   set's tag store (Dicom::TagStoreDataComponent) when it has one; SOP and series instance
//   UIDs are always new, as are study and frame of reference UIDs without a tag store.
// - Samples and rescale are chosen by PixelPlan, which never changes a value.
// - Enabled extensions of the registry add their modules.
class DicomDatasetFactory
{
public:
    explicit DicomDatasetFactory(const IOD_Registry* registry);

    void setReferencedInstances(std::vector<std::pair<std::string, std::string>> instances);

    // Empty with `error` set when the set cannot be written (no images, unsupported type).
    // With `pixels`, the datasets hold every attribute but the samples, which *pixels adds on
    // demand (it refers to `set`, which must outlive it): a writer then holds one copy of a
    // series' pixels at most per dataset being written, not a second copy of the series.
    std::vector<std::shared_ptr<DcmDataset>> create(const SharedImageSet& set, Error& error,
                                                    PixelSource* pixels = nullptr) const;

private:
    const IOD_Registry* m_registry;
    std::vector<std::pair<std::string, std::string>> m_referenced;
};

// Decimal text of at most 16 characters (the DS value limit).
std::string decimalString(double value);

}  // namespace Dravelin::Dicom
