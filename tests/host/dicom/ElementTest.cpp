#include "host/dicom/Element.h"

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

using namespace Dravelin::Dicom;

namespace {

class ElementTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ds.putAndInsertString(DCM_PixelSpacing, "0.5\\+1.25e1\\-3 ");
        ds.putAndInsertString(DCM_InstanceNumber, "+12 ");
        ds.putAndInsertString(DCM_SeriesDescription, "  Head  ");
        ds.putAndInsertString(DCM_ImageType, "ORIGINAL\\PRIMARY\\AXIAL");
        ds.putAndInsertString(DCM_SliceThickness, "0,5");
        ds.putAndInsertString(DCM_SpacingBetweenSlices, "2.5mm");
        ds.putAndInsertUint16(DCM_Rows, 512);
        ds.putAndInsertString(DCM_PatientName, "Buc^J\xe9r\xf4me");    // Latin-1 bytes, no charset
        ds.putAndInsertString(DCM_StudyDescription, "K\xc3\xb6rper");  // UTF-8
        ds.putAndInsertString(DCM_PatientComments, "");
    }
    DcmDataset ds;
};

}  // namespace

TEST_F(ElementTest, ReadsEveryType)
{
    EXPECT_EQ(Element<std::vector<double>>(ds, DCM_PixelSpacing).value(), (std::vector<double>{0.5, 12.5, -3}));
    EXPECT_DOUBLE_EQ(Element<double>(ds, DCM_PixelSpacing).value(), 0.5);
    EXPECT_EQ(Element<int>(ds, DCM_InstanceNumber).value(), 12);
    EXPECT_EQ(Element<long long>(ds, DCM_InstanceNumber).value(), 12);
    EXPECT_EQ(Element<unsigned int>(ds, DCM_Rows).value(), 512u);
    EXPECT_EQ(Element<std::vector<int>>(ds, DCM_Rows).value(), std::vector<int>{512});
    EXPECT_EQ(Element<std::string>(ds, DCM_SeriesDescription).value(), "Head");
    EXPECT_EQ(Element<std::string>(ds, DCM_ImageType).value(), "ORIGINAL\\PRIMARY\\AXIAL");
    EXPECT_EQ(Element<std::vector<std::string>>(ds, DCM_ImageType).value(),
              (std::vector<std::string>{"ORIGINAL", "PRIMARY", "AXIAL"}));
    EXPECT_EQ(Element<QStringList>(ds, DCM_ImageType).value(), (QStringList{"ORIGINAL", "PRIMARY", "AXIAL"}));
    EXPECT_EQ(Element<QString>(ds, DCM_StudyDescription).value(), QString::fromUtf8("K\xc3\xb6rper"));
    // Bytes that are not UTF-8 are read as Latin-1.
    EXPECT_EQ(Element<QString>(ds, DCM_PatientName).value(), QString::fromUtf8("Buc^J\xc3\xa9r\xc3\xb4me"));
}

TEST_F(ElementTest, MissingAndEmptyValues)
{
    EXPECT_EQ(Element<std::string>(ds, DCM_PatientID).value("none"), "none");
    EXPECT_EQ(Element<int>(ds, DCM_AcquisitionNumber).value(-1), -1);
    EXPECT_FALSE(Element<std::string>(ds, DCM_PatientComments).hasValue());
    EXPECT_TRUE(Element<std::string>(ds, DCM_PatientComments).exists());
    EXPECT_FALSE(Element<std::string>(ds, DCM_PatientID).exists());
    try {
        Element<double>(ds, DCM_SliceLocation).value();
        FAIL() << "value() of a missing element must throw";
    } catch (const Exception& e) {
        EXPECT_EQ(e.error().code, Error::MissingValue);
        ASSERT_TRUE(e.error().tag.has_value());
        EXPECT_EQ(*e.error().tag, TagProxy(0x0020, 0x1041));
    }
    EXPECT_THROW(Element<std::string>(ds, DCM_PatientComments).value(), Exception);
    // A value out of the type's range is no value.
    ds.putAndInsertString(DCM_AcquisitionNumber, "99999999999");
    EXPECT_FALSE(Element<int>(ds, DCM_AcquisitionNumber).hasValue());
    EXPECT_EQ(Element<long long>(ds, DCM_AcquisitionNumber).value(), 99999999999LL);
}

TEST_F(ElementTest, TolerantReadingAcceptsCommonMistakes)
{
    EXPECT_FALSE(Element<double>(ds, DCM_SliceThickness).hasValue());
    EXPECT_DOUBLE_EQ(Element<double>(ds, DCM_SliceThickness, ElementBase::Optional, true).value(), 0.5);
    EXPECT_FALSE(Element<double>(ds, DCM_SpacingBetweenSlices).hasValue());
    EXPECT_DOUBLE_EQ(Element<double>(ds, DCM_SpacingBetweenSlices, ElementBase::Optional, true).value(), 2.5);
    ds.putAndInsertString(DCM_InstanceNumber, "7.0");
    EXPECT_FALSE(Element<int>(ds, DCM_InstanceNumber).hasValue());
    EXPECT_EQ(Element<int>(ds, DCM_InstanceNumber, ElementBase::Optional, true).value(), 7);
}

TEST_F(ElementTest, SetValueRoundTrips)
{
    EXPECT_TRUE(Element<double>(ds, DCM_SliceLocation).setValue(1.0 / 3.0));
    OFString raw;
    ds.findAndGetOFString(DCM_SliceLocation, raw);
    EXPECT_LE(raw.length(), 16u);
    EXPECT_NEAR(Element<double>(ds, DCM_SliceLocation).value(), 1.0 / 3.0, 1e-12);

    EXPECT_TRUE(Element<std::vector<double>>(ds, DCM_ImagePositionPatient).setValue({-1e-7, 250.125, 3}));
    EXPECT_EQ(Element<std::vector<double>>(ds, DCM_ImagePositionPatient).value(),
              (std::vector<double>{-1e-7, 250.125, 3}));
    EXPECT_TRUE(Element<int>(ds, DCM_InstanceNumber).setValue(-42));
    EXPECT_EQ(Element<int>(ds, DCM_InstanceNumber).value(), -42);
    EXPECT_TRUE(Element<QString>(ds, DCM_PatientName).setValue(QString::fromUtf8("M\xc3\xbcller^Hans")));
    EXPECT_EQ(Element<QString>(ds, DCM_PatientName).value(), QString::fromUtf8("M\xc3\xbcller^Hans"));
    EXPECT_TRUE(Element<QStringList>(ds, DCM_ImageType).setValue({"DERIVED", "SECONDARY"}));
    EXPECT_EQ(Element<std::vector<std::string>>(ds, DCM_ImageType).value(),
              (std::vector<std::string>{"DERIVED", "SECONDARY"}));
    EXPECT_TRUE(Element<unsigned int>(ds, DCM_Columns).setValue(640));
    EXPECT_EQ(Element<int>(ds, DCM_Columns).value(), 640);
}
