#include "host/core/LogCapture.h"
#include "scanning/RecordElements.h"
#include "tests/scanning/TestDatasets.h"

#include <gtest/gtest.h>

using namespace Dravelin;
using Dicom::ElementBase;
using Dicom::RecordElements;

// The one-pass reader must give exactly what Element<T> gives on the same item.
TEST(RecordElements, ReadsWhatElementReads)
{
    auto dataset = Dravelin::Test::makeDataset({{DCM_PatientName, "M\xc3\xbcller^Anna"},
                                                {DCM_ImageType, "ORIGINAL\\PRIMARY"},
                                                {DCM_PixelSpacing, "0,5\\0,5"},
                                                {DCM_ImagePositionPatient, "1\\2\\3"},
                                                {DCM_SliceThickness, "1.5mm"},
                                                {DCM_InstanceNumber, " 7 "},
                                                {DCM_StudyID, ""}});
    const RecordElements fields(*dataset);
    for (const DcmTagKey& tag : {DCM_PatientName, DCM_ImageType, DCM_StudyID, DCM_PatientID})
        EXPECT_EQ(fields.value<QString>(tag, ElementBase::Optional, false, QStringLiteral("x")),
                  Dicom::Element<QString>(*dataset, tag).value(QStringLiteral("x")));
    EXPECT_EQ(fields.value<QString>(DCM_PatientName, ElementBase::Optional, false, QString()),
              QString::fromUtf8("M\xc3\xbcller^Anna"));
    EXPECT_EQ(fields.value<std::vector<std::string>>(DCM_ImageType, ElementBase::Optional, false, {}),
              (std::vector<std::string>{"ORIGINAL", "PRIMARY"}));
    for (const bool tolerant : {false, true}) {
        SCOPED_TRACE(tolerant);
        for (const DcmTagKey& tag : {DCM_PixelSpacing, DCM_ImagePositionPatient, DCM_SliceThickness}) {
            EXPECT_EQ(fields.value<std::vector<double>>(tag, ElementBase::Optional, tolerant, {}),
                      Dicom::Element<std::vector<double>>(*dataset, tag, ElementBase::Optional, tolerant).value({}));
            EXPECT_EQ(fields.get<double>(tag, tolerant),
                      Dicom::Element<double>(*dataset, tag, ElementBase::Optional, tolerant).get());
        }
    }
    EXPECT_EQ(fields.get<double>(DCM_PixelSpacing, true), 0.5);
    EXPECT_FALSE(fields.get<double>(DCM_PixelSpacing, false).has_value());
    EXPECT_EQ(fields.get<int>(DCM_InstanceNumber, false), 7);
    EXPECT_FALSE(fields.contains(DCM_Rows));
    EXPECT_TRUE(fields.contains(DCM_StudyID));
}

TEST(RecordElements, MissingRequiredElementsAreLoggedAsElementLogsThem)
{
    auto dataset = Dravelin::Test::makeDataset({{DCM_PatientName, "A"}});
    const RecordElements fields(*dataset);
    LogCapture log;
    EXPECT_EQ(fields.value<QString>(DCM_PatientID, ElementBase::Required, false, QStringLiteral("none")), "none");
    EXPECT_EQ(fields.value<QString>(DCM_PatientSex, ElementBase::Optional, false, QString()), QString());
    EXPECT_EQ(fields.value<QString>(DCM_PatientName, ElementBase::Required, false, QString()), "A");
    const int viaFields = log.count("Missing element", 0);
    EXPECT_TRUE(log.contains("Missing element (0010,0020) PatientID", 0));
    log.clear();
    Dicom::Element<QString>(*dataset, DCM_PatientID, ElementBase::Required).value(QString());
    Dicom::Element<QString>(*dataset, DCM_PatientSex, ElementBase::Optional).value(QString());
    EXPECT_EQ(viaFields, 1);
    EXPECT_EQ(log.count("Missing element (0010,0020) PatientID", 0), 1);
}
