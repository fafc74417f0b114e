#include "host/dicom/Utils.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>

namespace Dravelin::Dicom::Utils {

// Tags whose hand-edited values would make the dataset lie about itself:
// - the file meta information (group 0002), which DCMTK rewrites on save anyway;
// - the SOP identity (class and instance UID), which references from other objects rely on;
// - the specific character set, which decides how every text value is decoded;
// - the pixel data and every attribute that describes its layout, since a changed value
//   would no longer match the stored pixels.
const std::set<TagProxy>& readOnlyTags()
{
    static const std::set<TagProxy> tags = {
        DCM_FileMetaInformationGroupLength,
        DCM_FileMetaInformationVersion,
        DCM_MediaStorageSOPClassUID,
        DCM_MediaStorageSOPInstanceUID,
        DCM_TransferSyntaxUID,
        DCM_ImplementationClassUID,
        DCM_ImplementationVersionName,
        DCM_SourceApplicationEntityTitle,
        DCM_PrivateInformationCreatorUID,
        DCM_PrivateInformation,
        DCM_SpecificCharacterSet,
        DCM_SOPClassUID,
        DCM_SOPInstanceUID,
        DCM_SamplesPerPixel,
        DCM_PhotometricInterpretation,
        DCM_PlanarConfiguration,
        DCM_NumberOfFrames,
        DCM_Rows,
        DCM_Columns,
        DCM_BitsAllocated,
        DCM_BitsStored,
        DCM_HighBit,
        DCM_PixelRepresentation,
        DCM_RedPaletteColorLookupTableDescriptor,
        DCM_GreenPaletteColorLookupTableDescriptor,
        DCM_BluePaletteColorLookupTableDescriptor,
        DCM_RedPaletteColorLookupTableData,
        DCM_GreenPaletteColorLookupTableData,
        DCM_BluePaletteColorLookupTableData,
        DCM_ExtendedOffsetTable,
        DCM_ExtendedOffsetTableLengths,
        DCM_FloatPixelData,
        DCM_DoubleFloatPixelData,
        DCM_PixelData,
    };
    return tags;
}

}  // namespace Dravelin::Dicom::Utils
