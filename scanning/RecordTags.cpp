#include "scanning/RecordTags.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcvr.h>

namespace Dravelin::Dicom {

const RecordTags& RecordTags::get()
{
    static const RecordTags tags;
    return tags;
}

// The VRs are the data dictionary's, given here so that a scan that reads every header itself
// never loads the dictionary (some 15 ms per process).
RecordTags::RecordTags()
    : patientId(DCM_PatientID, EVR_LO),
      patientName(DCM_PatientName, EVR_PN),
      patientSex(DCM_PatientSex, EVR_CS),
      patientBirthDate(DCM_PatientBirthDate, EVR_DA),
      patientComments(DCM_PatientComments, EVR_LT),
      studyInstanceUid(DCM_StudyInstanceUID, EVR_UI),
      studyId(DCM_StudyID, EVR_SH),
      studyTime(DCM_StudyTime, EVR_TM),
      studyDate(DCM_StudyDate, EVR_DA),
      studyDescription(DCM_StudyDescription, EVR_LO),
      seriesInstanceUid(DCM_SeriesInstanceUID, EVR_UI),
      sopClassUid(DCM_SOPClassUID, EVR_UI),
      seriesTime(DCM_SeriesTime, EVR_TM),
      seriesDate(DCM_SeriesDate, EVR_DA),
      seriesNumber(DCM_SeriesNumber, EVR_IS),
      modality(DCM_Modality, EVR_CS),
      seriesDescription(DCM_SeriesDescription, EVR_LO),
      sopInstanceUid(DCM_SOPInstanceUID, EVR_UI),
      instanceNumber(DCM_InstanceNumber, EVR_IS),
      acquisitionNumber(DCM_AcquisitionNumber, EVR_IS),
      imageType(DCM_ImageType, EVR_CS),
      columns(DCM_Columns, EVR_US),
      rows(DCM_Rows, EVR_US),
      samplesPerPixel(DCM_SamplesPerPixel, EVR_US),
      bitsAllocated(DCM_BitsAllocated, EVR_US),
      numberOfFrames(DCM_NumberOfFrames, EVR_IS),
      sliceThickness(DCM_SliceThickness, EVR_DS),
      protocolName(DCM_ProtocolName, EVR_LO),
      bodyPartExamined(DCM_BodyPartExamined, EVR_CS),
      manufacturer(DCM_Manufacturer, EVR_LO),
      manufacturerModelName(DCM_ManufacturerModelName, EVR_LO),
      imagePosition(DCM_ImagePositionPatient, EVR_DS),
      imageOrientation(DCM_ImageOrientationPatient, EVR_DS),
      pixelSpacing(DCM_PixelSpacing, EVR_DS),
      spacingBetweenSlices(DCM_SpacingBetweenSlices, EVR_DS),
      sharedFunctionalGroups(DCM_SharedFunctionalGroupsSequence, EVR_SQ),
      burnedInAnnotation(DCM_BurnedInAnnotation, EVR_CS)
{
}

}  // namespace Dravelin::Dicom
