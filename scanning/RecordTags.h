#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctag.h>

namespace Dravelin::Dicom {

// The tags the record builders read, built once, with their VRs (a DcmTag built from a key
// alone looks its VR up in the data dictionary under a lock).
struct RecordTags
{
    static const RecordTags& get();

    DcmTag patientId;
    DcmTag patientName;
    DcmTag patientSex;
    DcmTag patientBirthDate;
    DcmTag patientComments;

    DcmTag studyInstanceUid;
    DcmTag studyId;
    DcmTag studyTime;
    DcmTag studyDate;
    DcmTag studyDescription;

    DcmTag seriesInstanceUid;
    DcmTag sopClassUid;
    DcmTag seriesTime;
    DcmTag seriesDate;
    DcmTag seriesNumber;
    DcmTag modality;
    DcmTag seriesDescription;

    DcmTag sopInstanceUid;
    DcmTag instanceNumber;
    DcmTag acquisitionNumber;
    DcmTag imageType;
    DcmTag columns;
    DcmTag rows;
    DcmTag samplesPerPixel;
    DcmTag bitsAllocated;
    DcmTag numberOfFrames;
    DcmTag sliceThickness;
    DcmTag protocolName;
    DcmTag bodyPartExamined;
    DcmTag manufacturer;
    DcmTag manufacturerModelName;
    DcmTag imagePosition;
    DcmTag imageOrientation;
    DcmTag pixelSpacing;
    DcmTag spacingBetweenSlices;
    DcmTag sharedFunctionalGroups;
    DcmTag burnedInAnnotation;

private:
    RecordTags();
};

}  // namespace Dravelin::Dicom
