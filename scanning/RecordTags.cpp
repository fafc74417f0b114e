#include "scanning/RecordTags.h"

#include <dcmtk/dcmdata/dcdeftag.h>

namespace Dravelin::Dicom {

const RecordTags& RecordTags::get()
{
    static const RecordTags tags;
    return tags;
}

RecordTags::RecordTags()
    : patientId(DCM_PatientID),
      patientName(DCM_PatientName),
      patientSex(DCM_PatientSex),
      patientBirthDate(DCM_PatientBirthDate),
      patientComments(DCM_PatientComments),
      studyInstanceUid(DCM_StudyInstanceUID),
      studyId(DCM_StudyID),
      studyTime(DCM_StudyTime),
      studyDate(DCM_StudyDate),
      studyDescription(DCM_StudyDescription),
      seriesInstanceUid(DCM_SeriesInstanceUID),
      sopClassUid(DCM_SOPClassUID),
      seriesTime(DCM_SeriesTime),
      seriesDate(DCM_SeriesDate),
      seriesNumber(DCM_SeriesNumber),
      modality(DCM_Modality),
      seriesDescription(DCM_SeriesDescription),
      sopInstanceUid(DCM_SOPInstanceUID),
      instanceNumber(DCM_InstanceNumber),
      acquisitionNumber(DCM_AcquisitionNumber),
      imageType(DCM_ImageType),
      columns(DCM_Columns),
      rows(DCM_Rows),
      samplesPerPixel(DCM_SamplesPerPixel),
      bitsAllocated(DCM_BitsAllocated),
      numberOfFrames(DCM_NumberOfFrames),
      sliceThickness(DCM_SliceThickness),
      protocolName(DCM_ProtocolName),
      bodyPartExamined(DCM_BodyPartExamined),
      manufacturer(DCM_Manufacturer),
      manufacturerModelName(DCM_ManufacturerModelName),
      imagePosition(DCM_ImagePositionPatient),
      imageOrientation(DCM_ImageOrientationPatient),
      pixelSpacing(DCM_PixelSpacing),
      spacingBetweenSlices(DCM_SpacingBetweenSlices),
      sharedFunctionalGroups(DCM_SharedFunctionalGroupsSequence)
{
}

}  // namespace Dravelin::Dicom
