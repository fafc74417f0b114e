#include "host/dicom/Utils.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>

namespace Dravelin::Dicom::Utils {

// Tags whose hand-edited (or tag-file) values would make the dataset lie about itself:
// - the file meta information (group 0002), which DCMTK rewrites on save anyway;
// - the instance's identity: SOP class and instance, series and frame of reference UIDs,
//   instance number, which references and the grouping of slices into series rely on;
// - the specific character set, which decides how every text value is decoded;
// - the pixel data and every attribute that describes it: its layout, the rescale to real
//   values, the VOI LUT, the geometry of each frame and the functional groups that carry
//   these per frame. A value from elsewhere would no longer match the stored pixels.
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
        DCM_SeriesInstanceUID,
        DCM_FrameOfReferenceUID,
        DCM_InstanceNumber,
        // Image Plane
        DCM_PixelSpacing,
        DCM_ImageOrientationPatient,
        DCM_ImagePositionPatient,
        DCM_SliceThickness,
        DCM_SpacingBetweenSlices,
        DCM_SliceLocation,
        // Multi-frame and functional groups
        DCM_FrameIncrementPointer,
        DCM_PageNumberVector,
        DCM_GridFrameOffsetVector,
        DCM_SharedFunctionalGroupsSequence,
        DCM_PerFrameFunctionalGroupsSequence,
        DCM_DimensionIndexSequence,
        // Rescale (Modality LUT) and VOI LUT
        DCM_RescaleIntercept,
        DCM_RescaleSlope,
        DCM_RescaleType,
        DCM_ModalityLUTSequence,
        DCM_DoseGridScaling,
        DCM_WindowCenter,
        DCM_WindowWidth,
        DCM_WindowCenterWidthExplanation,
        DCM_VOILUTFunction,
        DCM_VOILUTSequence,
        DCM_PresentationLUTShape,
        // Image Pixel
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
        DCM_PixelAspectRatio,
        DCM_SmallestImagePixelValue,
        DCM_LargestImagePixelValue,
        DCM_PixelPaddingValue,
        DCM_PixelPaddingRangeLimit,
        DCM_ICCProfile,
        DCM_ColorSpace,
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
