#include "host/app/SilentSignals.h"
#include "host/dicom/Utils.h"
#include "tests/support/TestEnvironment.h"

#include <QComboBox>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>

using namespace Dravelin;

// What describes the file, the instance, the pixels and their geometry is locked; what
// describes the patient, study and series is not.
TEST(ReadOnlyTags, LockTheInstancePixelsAndGeometryButNotPatientStudyOrSeriesData)
{
    const auto& tags = Dicom::Utils::readOnlyTags();
    for (const DcmTagKey& key : {DCM_TransferSyntaxUID,
                                 DCM_MediaStorageSOPInstanceUID,
                                 DCM_SOPClassUID,
                                 DCM_SOPInstanceUID,
                                 DCM_SeriesInstanceUID,
                                 DCM_FrameOfReferenceUID,
                                 DCM_InstanceNumber,
                                 DCM_NumberOfFrames,
                                 DCM_PixelData,
                                 DCM_Rows,
                                 DCM_Columns,
                                 DCM_BitsAllocated,
                                 DCM_PhotometricInterpretation,
                                 DCM_SpecificCharacterSet,
                                 DCM_ImagePositionPatient,
                                 DCM_ImageOrientationPatient,
                                 DCM_PixelSpacing,
                                 DCM_SliceThickness,
                                 DCM_RescaleIntercept,
                                 DCM_RescaleSlope,
                                 DCM_WindowCenter,
                                 DCM_WindowWidth,
                                 DCM_VOILUTSequence,
                                 DCM_PerFrameFunctionalGroupsSequence,
                                 DCM_SharedFunctionalGroupsSequence})
        EXPECT_EQ(tags.count(key), 1u) << key.toString().c_str();
    for (const DcmTagKey& key : {DCM_PatientName, DCM_PatientID, DCM_StudyInstanceUID, DCM_StudyDescription,
                                 DCM_SeriesDescription, DCM_SeriesNumber, DCM_ImageComments, DCM_InstitutionName})
        EXPECT_EQ(tags.count(key), 0u) << key.toString().c_str();
}

TEST(SetSilent, BlocksSignalsOnlyDuringTheChangeAndRestoresNesting)
{
    QComboBox box;
    box.addItems({"a", "b", "c"});
    QSignalSpy spy(&box, qOverload<int>(&QComboBox::currentIndexChanged));
    QtHelpers::setSilent(&box, [&] {
        box.setCurrentIndex(1);
        QtHelpers::setSilent(&box, [&] { box.setCurrentIndex(2); });
        EXPECT_TRUE(box.signalsBlocked());
    });
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(box.currentIndex(), 2);
    EXPECT_FALSE(box.signalsBlocked());
    box.setCurrentIndex(0);
    EXPECT_EQ(spy.count(), 1);
}
