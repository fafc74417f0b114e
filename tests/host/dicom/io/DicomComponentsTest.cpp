#include "host/data/DataGroup.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/ImageInfoDataComponent.h"
#include "host/dicom/components/OverlayDataComponent.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestEnvironment.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <gtest/gtest.h>

using namespace Dravelin;
namespace T = Dravelin::Test;

TEST(DicomComponents, StructureSetBecomesAGroupOfRegionPointClouds)
{
    // The corpus file has no meta header; a copy with one reads like any exported file.
    T::TempDir dir;
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(T::pydicomData("test_files/rtstruct.dcm").toStdString().c_str()).good());
    ASSERT_TRUE(file.saveFile(dir.file("rtstruct.dcm").toStdString().c_str(), EXS_LittleEndianExplicit).good());

    OwningDataList output = T::readDicom(dir.file("rtstruct.dcm"));
    ASSERT_EQ(output.size(), 1u);
    const auto* group = dynamic_cast<const DataGroup*>(output[0]);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->name(), "sep30");
    struct Region
    {
        int number;
        const char* name;
        int red;
        int contours;
        int points;
    };
    const Region expected[] = {
        {1, "patient", 220, 3, 17}, {2, "Isocenter 1", 255, 1, 1}, {3, "Isocenter 2", 255, 1, 1}};
    ASSERT_EQ(group->size(), 3);
    for (int i = 0; i < 3; ++i) {
        const auto* cloud = dynamic_cast<const PointCloud*>(group->child(i));
        ASSERT_NE(cloud, nullptr);
        const auto* rt = cloud->getComponent<Dicom::RTStructureDataComponent>();
        ASSERT_NE(rt, nullptr);
        EXPECT_EQ(rt->roiNumber, expected[i].number);
        EXPECT_EQ(rt->roiName, expected[i].name);
        EXPECT_DOUBLE_EQ(rt->color.x() * 255, expected[i].red);
        EXPECT_EQ(int(rt->contours.size()), expected[i].contours);
        EXPECT_EQ(cloud->size(), expected[i].points);
        EXPECT_EQ(rt->referencedIdentifier(), "1.2.826.0.1.3680043.8.498.2010020400001.2.1.1");
    }
}

TEST(DicomComponents, StructuresMatchImageSetsBySeriesWithinTheirFrameOfReference)
{
    using Match = Dicom::RTStructureDataComponent::ReferenceMatch;
    struct Case
    {
        const char* roiSeries;
        const char* roiFrame;
        const char* series;
        const char* frame;
        Match expected;
    };
    const Case cases[] = {
        {"1.1", "9.1", "1.1", "9.1", Match::Series},
        {"1.1", "9.1", "1.2", "9.1", Match::FrameOfReference},
        {"1.1", "9.1", "1.1", "9.2", Match::None},  // a known other frame outweighs the series
        {"1.1", "9.1", "1.2", "9.2", Match::None},
        {"1.1", "", "1.1", "9.2", Match::Series},  // an unknown frame leaves the series to decide
        {"1.1", "9.1", "1.1", "", Match::Series},
        {"", "", "", "", Match::None},
        {"1.1", "", "1.2", "", Match::None},
    };
    for (const Case& c : cases) {
        Dicom::RTStructureDataComponent rt;
        rt.referencedSeriesUid = c.roiSeries;
        rt.referencedFrameOfReferenceUid = c.roiFrame;
        const ImageInfoDataComponent info(c.series, c.frame);
        EXPECT_EQ(rt.matchOf(&info), c.expected)
            << c.roiSeries << " " << c.roiFrame << " " << c.series << " " << c.frame;
    }
    EXPECT_EQ(Dicom::RTStructureDataComponent().matchOf(nullptr), Match::None);
}

TEST(DicomComponents, MultiFrameOverlayPlanesAreKeptPerFrame)
{
    T::TempDir dir;
    DcmFileFormat file;
    DcmDataset& ds = *file.getDataset();
    char uid[100];
    ds.putAndInsertString(DCM_SOPClassUID, UID_MultiframeGrayscaleByteSecondaryCaptureImageStorage);
    ds.putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid));
    ds.putAndInsertString(DCM_NumberOfFrames, "2");
    T::putMonochromeImage(ds, 4, 4, 8, 8);
    std::vector<Uint8> pixels(32, 7);
    ds.putAndInsertUint8Array(DCM_PixelData, pixels.data(), 32);
    ds.putAndInsertUint16(DcmTagKey(0x6002, 0x0010), 4);
    ds.putAndInsertUint16(DcmTagKey(0x6002, 0x0011), 4);
    ds.putAndInsertString(DcmTagKey(0x6002, 0x0015), "2");
    ds.putAndInsertString(DcmTagKey(0x6002, 0x0040), "G");
    ds.putAndInsertSint16(DcmTagKey(0x6002, 0x0050), 1, 0);
    ds.putAndInsertSint16(DcmTagKey(0x6002, 0x0050), 1, 1);
    ds.putAndInsertUint16(DcmTagKey(0x6002, 0x0100), 1);
    ds.putAndInsertUint16(DcmTagKey(0x6002, 0x0102), 0);
    // Frame 1: the first pixel; frame 2: the last one (bit 31 of the 32 packed bits).
    Uint16 bits[2] = {0x0001, 0x8000};
    ds.putAndInsertUint16Array(DcmTagKey(0x6002, 0x3000), bits, 2);
    ASSERT_TRUE(file.saveFile(dir.file("overlay.dcm").toStdString().c_str(), EXS_LittleEndianExplicit).good());

    OwningDataList output = T::readDicom(dir.file("overlay.dcm"));
    const SharedImageSet* set = output.getImage();
    ASSERT_NE(set, nullptr);
    const auto* component = set->getComponent<Dicom::OverlayDataComponent>();
    ASSERT_NE(component, nullptr);
    ASSERT_EQ(component->overlays.size(), 1u);
    const auto& overlay = component->overlays[0];
    EXPECT_EQ(overlay.group, 0x6002);
    ASSERT_EQ(overlay.bits.size(), 2u);
    int set0 = 0, set1 = 0;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            set0 += overlay.isSet(0, r, c);
            set1 += overlay.isSet(1, r, c);
        }
    EXPECT_EQ(set0, 1);
    EXPECT_EQ(set1, 1);
    EXPECT_TRUE(overlay.isSet(0, 0, 0));
    EXPECT_TRUE(overlay.isSet(1, 3, 3));
}

// The data model keeps 8 bits per colour sample: deeper colour loads reduced, and says so.
TEST(DicomComponents, DeepColourLoadsWithAWarning)
{
    DicomIoAlgorithm reader;
    reader.setLocation(T::pydicomData("test_files/SC_rgb_rle_16bit.dcm"));
    reader.compute();
    OwningDataList output = reader.takeOutput();
    ASSERT_EQ(output.getImages().size(), 1u);
    EXPECT_EQ(output.getImages().front()->pixelType(), PixelType::RGB);
    ASSERT_EQ(reader.caughtErrors().size(), 1u);
    EXPECT_EQ(reader.caughtErrors().front().type, Dicom::Error::Warning);
    EXPECT_NE(reader.caughtErrors().front().message.find("SC_rgb_rle_16bit.dcm': colour with 16 bits per sample"),
              std::string::npos)
        << reader.caughtErrors().front().message;
}
