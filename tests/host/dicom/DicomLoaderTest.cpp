#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomLoader.h"
#include "tests/host/dicom/TestSeries.h"
#include "tests/support/TestEnvironment.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Dravelin;
namespace Fixture = Dravelin::Test;

namespace {

std::vector<std::vector<ImageDescriptor>> describe(const std::vector<std::string>& locations)
{
    return DicomLoader(locations, nullptr, std::make_shared<Dicom::DatasetCache>(0), nullptr).loadDescriptors();
}

std::string folderOf(const Fixture::TempDir& dir)
{
    return Filesystem::Url::fromLocalFile(dir.path()).string(0x80);
}

}  // namespace

TEST(DicomLoader, VolumeOfSlicesIsOneDescriptor)
{
    Fixture::TempDir dir;
    // Written out of order: the loader sorts along the slice normal.
    for (int i : {3, 0, 4, 1, 2}) {
        Fixture::SliceFields fields;
        fields.instanceNumber = 5 - i;
        fields.position = {10, 20, 2.0 * i};
        ASSERT_TRUE(Fixture::writeSlice(dir.file(QString("slice%1.dcm").arg(i)), fields));
    }
    const auto groups = describe({folderOf(dir)});
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups[0].size(), 1u);
    const ImageDescriptor& d = groups[0][0];
    EXPECT_EQ((std::array<int, 3>{d.width, d.height, d.slices}), (std::array<int, 3>{16, 12, 5}));
    // Column spacing first: the second PixelSpacing value.
    EXPECT_EQ(d.spacing, (std::array<double, 3>{0.75, 0.5, 2.0}));
    EXPECT_TRUE(d.isMetric);
    EXPECT_EQ(d.modality, "CT");
    ASSERT_EQ(d.files.size(), 5u);
    EXPECT_EQ(QFileInfo(QString::fromStdString(d.files.front())).fileName(), "slice0.dcm");
    EXPECT_EQ(QFileInfo(QString::fromStdString(d.files.back())).fileName(), "slice4.dcm");
}

TEST(DicomLoader, SplitsByOrientationSizeAndSeries)
{
    Fixture::TempDir dir;
    std::vector<std::string> files;
    auto write = [&](const QString& name, const Fixture::SliceFields& fields) {
        ASSERT_TRUE(Fixture::writeSlice(dir.file(name), fields));
        files.push_back(dir.file(name).toStdString());
    };
    for (int i = 0; i < 3; ++i) {
        Fixture::SliceFields axial;
        axial.position = {0, 0, 3.0 * i};
        axial.instanceNumber = i + 1;
        write(QString("a%1.dcm").arg(i), axial);
        Fixture::SliceFields sagittal;
        sagittal.orientation = {0, 1, 0, 0, 0, -1};
        sagittal.position = {1.5 * i, 0, 0};
        sagittal.instanceNumber = 10 + i;
        write(QString("s%1.dcm").arg(i), sagittal);
    }
    Fixture::SliceFields larger;
    larger.rows = 20;
    write("big.dcm", larger);
    Fixture::SliceFields otherSeries;
    otherSeries.seriesUid = "1.2.3.4.5";
    otherSeries.pixelSpacing.clear();
    write("other.dcm", otherSeries);

    const auto groups = describe({folderOf(dir)});
    ASSERT_EQ(groups.size(), 4u);
    // Groups keep the order of their first file: a0 (axial), big, other, s0 (sagittal).
    EXPECT_EQ(groups[0][0].slices, 3);
    EXPECT_DOUBLE_EQ(groups[0][0].spacing[2], 3.0);
    EXPECT_EQ(groups[1][0].height, 20);
    EXPECT_EQ(groups[1][0].slices, 1);
    EXPECT_FALSE(groups[2][0].isMetric);
    EXPECT_EQ(groups[3][0].slices, 3);
    EXPECT_DOUBLE_EQ(groups[3][0].spacing[2], 1.5);

    // Plain paths work as locations too, one per file.
    const auto fromPaths = describe(files);
    EXPECT_EQ(fromPaths.size(), 4u);
}

TEST(DicomLoader, RepeatedPositionsGiveSeveralVolumes)
{
    Fixture::TempDir dir;
    int n = 0;
    for (int t = 1; t <= 3; ++t)
        for (int z = 0; z < 4; ++z) {
            Fixture::SliceFields fields;
            fields.position = {0, 0, 2.5 * z};
            fields.temporalPosition = t;
            fields.instanceNumber = ++n;
            ASSERT_TRUE(Fixture::writeSlice(dir.file(QString("i%1.dcm").arg(n)), fields));
        }
    const auto groups = describe({folderOf(dir)});
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups[0].size(), 3u);
    for (const auto& volume : groups[0]) {
        EXPECT_EQ(volume.slices, 4);
        EXPECT_DOUBLE_EQ(volume.spacing[2], 2.5);
    }
    // The first volume holds the first time point at every position.
    EXPECT_EQ(QFileInfo(QString::fromStdString(groups[0][0].files[1])).fileName(), "i2.dcm");
    EXPECT_EQ(QFileInfo(QString::fromStdString(groups[0][2].files[3])).fileName(), "i12.dcm");

    // One position only: a set of 2D images.
    Fixture::TempDir cine;
    for (int i = 1; i <= 4; ++i) {
        Fixture::SliceFields fields;
        fields.instanceNumber = i;
        ASSERT_TRUE(Fixture::writeSlice(cine.file(QString("c%1.dcm").arg(i)), fields));
    }
    const auto cineGroups = describe({folderOf(cine)});
    ASSERT_EQ(cineGroups.size(), 1u);
    ASSERT_EQ(cineGroups[0].size(), 4u);
    EXPECT_EQ(cineGroups[0][0].slices, 1);
}

TEST(DicomLoader, MultiFrameFileIsOneSet)
{
    Fixture::TempDir dir;
    Fixture::SliceFields positioned;
    positioned.frames = 4;
    positioned.withPosition = false;
    for (int i = 0; i < 4; ++i)
        positioned.framePositions.push_back({0, 0, 1.25 * i});
    ASSERT_TRUE(Fixture::writeSlice(dir.file("positioned.dcm"), positioned));
    Fixture::SliceFields declared;
    declared.frames = 40;
    declared.spacingBetweenSlices = "2.5";
    ASSERT_TRUE(Fixture::writeSlice(dir.file("declared.dcm"), declared));
    Fixture::SliceFields bare;
    bare.frames = 6;
    ASSERT_TRUE(Fixture::writeSlice(dir.file("zbare.dcm"), bare));

    const auto groups = describe({folderOf(dir)});
    ASSERT_EQ(groups.size(), 3u);  // same series, still one set per file
    EXPECT_EQ(groups[0][0].slices, 40);
    EXPECT_DOUBLE_EQ(groups[0][0].spacing[2], 2.5);
    EXPECT_TRUE(groups[0][0].isMetric);
    EXPECT_EQ(groups[1][0].slices, 4);
    EXPECT_DOUBLE_EQ(groups[1][0].spacing[2], 1.25);
    EXPECT_EQ(groups[2][0].slices, 6);
    EXPECT_DOUBLE_EQ(groups[2][0].spacing[2], 1.0);
    EXPECT_FALSE(groups[2][0].isMetric);
}

TEST(DicomLoader, UnreadableLocationsThrow)
{
    Fixture::TempDir dir;
    EXPECT_THROW(describe({dir.file("missing").toStdString()}), Dicom::Exception);
    EXPECT_THROW(describe({folderOf(dir)}), Dicom::Exception);  // empty folder
    EXPECT_TRUE(describe({}).empty());
    const auto real = describe({Fixture::pydicomData("test_files/CT_small.dcm").toStdString()});
    ASSERT_EQ(real.size(), 1u);
    EXPECT_EQ(real[0][0].width, 128);
    EXPECT_NEAR(real[0][0].spacing[0], 0.661468, 1e-9);
}
