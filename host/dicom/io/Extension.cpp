#include "host/dicom/io/Extension.h"

#include "host/data/SharedImageSet.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

namespace Dravelin::Dicom {

Extension::Extension(std::string name, bool enabled) : m_name(std::move(name)), m_enabled(enabled) {}

Extension::~Extension() = default;

ReferencedImagesExtension::ReferencedImagesExtension() : Extension("Referenced Images") {}

void ReferencedImagesExtension::apply(DcmDataset& dataset, const WriteContext& context) const
{
    for (std::size_t i = 0; i < context.referencedInstances.size(); ++i) {
        const auto& [sopClass, sopInstance] = context.referencedInstances[i];
        for (const DcmTagKey& sequence : {DCM_SourceImageSequence, DCM_ReferencedImageSequence}) {
            DcmItem* item = nullptr;
            if (dataset.findOrCreateSequenceItem(sequence, item, static_cast<long>(i)).good() && item) {
                item->putAndInsertString(DCM_ReferencedSOPClassUID, sopClass.c_str());
                item->putAndInsertString(DCM_ReferencedSOPInstanceUID, sopInstance.c_str());
            }
        }
    }
}

VoiWindowExtension::VoiWindowExtension() : Extension("VOI Window") {}

void VoiWindowExtension::apply(DcmDataset& dataset, const WriteContext& context) const
{
    if (!context.imageSet || !context.imageSet->hasWindow())
        return;
    dataset.putAndInsertOFStringArray(DCM_WindowCenter,
                                      OFString(std::to_string(context.imageSet->windowCenter()).c_str()));
    dataset.putAndInsertOFStringArray(DCM_WindowWidth,
                                      OFString(std::to_string(context.imageSet->windowWidth()).c_str()));
}

}  // namespace Dravelin::Dicom
