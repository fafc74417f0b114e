#include "tests/scanning/TestDatasets.h"
#include "tests/support/TestEnvironment.h"

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <gtest/gtest.h>

using namespace Dravelin;
using namespace Dravelin::Dicom;

namespace {

std::unique_ptr<Patient> chainFromFile(const QString& relative)
{
    DcmFileFormat file;
    if (file.loadFile(Dravelin::Test::pydicomData(relative).toStdString().c_str()).bad())
        return nullptr;
    return std::make_unique<Patient>(*file.getDataset(), true);
}

}  // namespace

TEST(Records, HoldTheValuesOfCtSmall)
{
    auto patient = chainFromFile("test_files/CT_small.dcm");
    ASSERT_TRUE(patient);
    EXPECT_EQ(patient->patientId, "1CT1");
    EXPECT_EQ(patient->patientName, "CompressedSamples^CT1");
    EXPECT_EQ(patient->sex, "Other");
    EXPECT_TRUE(patient->birthDate.isNull());  // present but empty
    EXPECT_EQ(patient->comment, "");

    ASSERT_EQ(patient->studies.size(), 1u);
    const Study* study = patient->studies[0];
    EXPECT_EQ(study->studyInstanceUid, "1.3.6.1.4.1.5962.1.2.1.20040119072730.12322");
    EXPECT_EQ(study->studyId, "1CT1");
    EXPECT_EQ(study->studyTime, QTime(7, 27, 30));
    EXPECT_EQ(study->studyDate, QDate(2004, 1, 19));
    EXPECT_EQ(study->studyDescription, "e+1");

    ASSERT_EQ(study->series.size(), 1u);
    const Series* series = study->series[0];
    EXPECT_EQ(series->seriesInstanceUid, "1.3.6.1.4.1.5962.1.3.1.1.20040119072730.12322");
    EXPECT_EQ(series->sopClassUid, "1.2.840.10008.5.1.4.1.1.2");
    EXPECT_EQ(series->seriesTime, QTime(11, 27, 49));
    EXPECT_EQ(series->seriesDate, QDate(1997, 4, 30));
    EXPECT_EQ(series->seriesNumber, "1");
    EXPECT_EQ(series->modality, "CT");
    EXPECT_EQ(series->imageType, "ORIGINAL\\PRIMARY\\AXIAL");

    ASSERT_EQ(series->images.size(), 1u);
    const Image* image = series->images[0];
    EXPECT_EQ(image->sopInstanceUid, "1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322");
    EXPECT_EQ(image->instanceNumberText, "1");
    EXPECT_EQ(image->instanceNumber, 1);
    EXPECT_EQ(image->acquisitionNumber, 2);
    EXPECT_EQ(image->imageType, "ORIGINAL\\PRIMARY\\AXIAL");
    EXPECT_EQ(image->width, "128");
    EXPECT_EQ(image->height, "128");
    EXPECT_EQ(image->channels, "1");
    EXPECT_EQ(image->bitsAllocated, "16");
    EXPECT_EQ(image->numberOfFrames, "1");
    EXPECT_EQ(image->sliceThickness, "5.000000");
    EXPECT_EQ(image->manufacturer, "GE MEDICAL SYSTEMS");
    EXPECT_EQ(image->manufacturerModelName, "RHAPSODE");
    EXPECT_DOUBLE_EQ(image->imagePosition[0], -158.135803);
    EXPECT_DOUBLE_EQ(image->imagePosition[2], -75.699997);
    EXPECT_EQ(image->imageOrientation, (std::array<double, 6>{1, 0, 0, 0, 1, 0}));
    EXPECT_DOUBLE_EQ(image->pixelSpacing[0], 0.661468);
    EXPECT_DOUBLE_EQ(image->pixelSpacing[1], 0.661468);
    EXPECT_EQ(image->spacingBetweenSlices, 5.0);
}

TEST(Records, DefaultsOfAnEmptyItem)
{
    DcmDataset empty;
    Patient patient(empty, true);
    EXPECT_EQ(patient.sex, "Other");  // the default code "O"
    EXPECT_TRUE(patient.birthDate.isNull());
    const Study* study = patient.studies.at(0);
    EXPECT_TRUE(study->studyDate.isNull());
    const Image* image = study->series.at(0)->images.at(0);
    EXPECT_EQ(image->width, "?");
    EXPECT_EQ(image->height, "?");
    EXPECT_EQ(image->channels, "?");
    EXPECT_EQ(image->bitsAllocated, "?");
    EXPECT_EQ(image->numberOfFrames, "1");
    EXPECT_FALSE(image->instanceNumber.has_value());
    EXPECT_FALSE(image->acquisitionNumber.has_value());
    EXPECT_FALSE(image->spacingBetweenSlices.has_value());
    EXPECT_EQ(image->imagePosition, (std::array<double, 3>{0, 0, 0}));
    EXPECT_EQ(image->pixelSpacing, (std::array<double, 2>{0, 0}));
}

TEST(Records, ImageFieldEdgeCases)
{
    auto dataset = Dravelin::Test::makeDataset({{DCM_ImageType, "DERIVED\\SECONDARY"},
                                                {DCM_InstanceNumber, "12a"},
                                                {DCM_AcquisitionNumber, " 7"},
                                                {DCM_ImagePositionPatient, "1\\2"},
                                                {DCM_PixelSpacing, "0,5\\0,5"},
                                                {DCM_SpacingBetweenSlices, "2.5"},
                                                {DCM_PatientSex, "F"},
                                                {DCM_PatientBirthDate, "19991231"}});
    Patient patient(*dataset, true);
    EXPECT_EQ(patient.sex, "Female");
    EXPECT_EQ(patient.birthDate, QDate(1999, 12, 31));
    const Series* series = patient.studies[0]->series[0];
    EXPECT_EQ(series->imageType, "DERIVED\\SECONDARY");
    const Image* image = series->images[0];
    EXPECT_EQ(image->instanceNumberText, "12a");
    EXPECT_FALSE(image->instanceNumber.has_value());
    EXPECT_EQ(image->acquisitionNumber, 7);
    // Missing trailing values keep their zero.
    EXPECT_EQ(image->imagePosition, (std::array<double, 3>{1, 2, 0}));
    // Pixel spacing is read tolerantly (decimal comma).
    EXPECT_EQ(image->pixelSpacing, (std::array<double, 2>{0.5, 0.5}));
    EXPECT_EQ(image->spacingBetweenSlices, 2.5);

    // Built without children, a series has no image type.
    Series bare(nullptr, *dataset, false);
    EXPECT_TRUE(bare.images.empty());
    EXPECT_EQ(bare.imageType, "");
}

namespace {

// An enhanced multi-frame header: spacing only in the shared functional groups.
std::unique_ptr<DcmDataset> enhancedDataset(const char* topLevelSpacing)
{
    auto dataset = Dravelin::Test::makeDataset({{DCM_NumberOfFrames, "40"}});
    if (topLevelSpacing)
        dataset->putAndInsertString(DCM_PixelSpacing, topLevelSpacing);
    DcmItem* shared = nullptr;
    dataset->findOrCreateSequenceItem(DCM_SharedFunctionalGroupsSequence, shared, 0);
    DcmItem* measures = nullptr;
    shared->findOrCreateSequenceItem(DCM_PixelMeasuresSequence, measures, 0);
    measures->putAndInsertString(DCM_PixelSpacing, "0.8\\0.9");
    measures->putAndInsertString(DCM_SpacingBetweenSlices, "1.5");
    return dataset;
}

}  // namespace

TEST(Records, EnhancedMultiFrameSpacingFallback)
{
    auto onlyShared = enhancedDataset(nullptr);
    Image fromShared(nullptr, *onlyShared);
    EXPECT_EQ(fromShared.pixelSpacing, (std::array<double, 2>{0.8, 0.9}));
    EXPECT_EQ(fromShared.spacingBetweenSlices, 1.5);

    auto topLevel = enhancedDataset("0.3\\0.4");
    Image keepsTopLevel(nullptr, *topLevel);
    EXPECT_EQ(keepsTopLevel.pixelSpacing, (std::array<double, 2>{0.3, 0.4}));
    EXPECT_EQ(keepsTopLevel.spacingBetweenSlices, 1.5);

    auto zeroTopLevel = enhancedDataset("0\\0");
    Image replacesZero(nullptr, *zeroTopLevel);
    EXPECT_EQ(replacesZero.pixelSpacing, (std::array<double, 2>{0.8, 0.9}));
}

TEST(Records, ComparatorsTreatMissingNumbersAsMinusOne)
{
    Image none(nullptr), zero(nullptr), five(nullptr);
    zero.instanceNumber = 0;
    five.instanceNumber = 5;
    zero.acquisitionNumber = -2;
    EXPECT_TRUE(compareInstanceNumbers(&none, &zero));
    EXPECT_FALSE(compareInstanceNumbers(&zero, &none));
    EXPECT_TRUE(compareInstanceNumbers(&zero, &five));
    EXPECT_FALSE(compareInstanceNumbers(&five, &five));
    EXPECT_TRUE(compareAcquisitionNumbers(&zero, &none));
    EXPECT_FALSE(compareAcquisitionNumbers(&none, &five));  // both missing -> both -1
}

// An item that holds wrong types where numbers are expected.
TEST(BadInput, WrongTypesWhereNumbersAreExpectedKeepTheirDefaults)
{
    auto odd = Dravelin::Test::makeDataset({{DCM_ImagePositionPatient, "a\\b\\c"},
                                            {DCM_ImageOrientationPatient, "1\\0"},
                                            {DCM_SpacingBetweenSlices, "n/a"},
                                            {DCM_NumberOfFrames, "many"}});
    Image image(nullptr, *odd);
    EXPECT_EQ(image.imagePosition, (std::array<double, 3>{0, 0, 0}));
    EXPECT_EQ(image.imageOrientation, (std::array<double, 6>{1, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(image.spacingBetweenSlices.has_value());
    EXPECT_EQ(image.numberOfFrames, "many");
}
