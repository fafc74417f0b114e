#include "host/dicom/DatasetCache.h"
#include "host/dicom/io/DicomVolumeReader.h"
#include "tests/support/TestEnvironment.h"

#include <QString>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <functional>

using namespace Dravelin::Dicom;
namespace T = Dravelin::Test;

namespace {

constexpr int kColumns = 8, kRows = 6;

std::string text(const Eigen::Vector3d& v)
{
    return std::to_string(v.x()) + "\\" + std::to_string(v.y()) + "\\" + std::to_string(v.z());
}

// One CT slice whose stored values are `base` + column; `edit` may change it before saving.
void writeSlice(const QString& path, const std::string& series, const Eigen::Vector3d& position,
                const Eigen::Vector3d& row, const Eigen::Vector3d& column, int base, int instance = 1,
                const std::function<void(DcmDataset&)>& edit = {}, E_TransferSyntax xfer = EXS_LittleEndianExplicit)
{
    DcmFileFormat file;
    DcmDataset& ds = *file.getDataset();
    char uid[100];
    ds.putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    ds.putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid));
    ds.putAndInsertString(DCM_SeriesInstanceUID, series.c_str());
    ds.putAndInsertString(DCM_Modality, "CT");
    ds.putAndInsertString(DCM_InstanceNumber, std::to_string(instance).c_str());
    ds.putAndInsertString(DCM_ImagePositionPatient, text(position).c_str());
    ds.putAndInsertString(DCM_ImageOrientationPatient, (text(row) + "\\" + text(column)).c_str());
    ds.putAndInsertString(DCM_PixelSpacing, "0.5\\0.7");
    ds.putAndInsertString(DCM_RescaleIntercept, "-1024");
    ds.putAndInsertString(DCM_RescaleSlope, "1");
    ds.putAndInsertUint16(DCM_Rows, kRows);
    ds.putAndInsertUint16(DCM_Columns, kColumns);
    ds.putAndInsertUint16(DCM_SamplesPerPixel, 1);
    ds.putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    ds.putAndInsertUint16(DCM_BitsAllocated, 16);
    ds.putAndInsertUint16(DCM_BitsStored, 12);
    ds.putAndInsertUint16(DCM_HighBit, 11);
    ds.putAndInsertUint16(DCM_PixelRepresentation, 0);
    std::vector<Uint16> pixels(kRows * kColumns);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<Uint16>(base + int(i) % kColumns);
    ds.putAndInsertUint16Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()));
    if (edit)
        edit(ds);
    ASSERT_TRUE(file.saveFile(path.toStdString().c_str(), xfer).good());
}

std::vector<LoadedImageSet> readFolder(const T::TempDir& dir, std::vector<Error>* errors = nullptr)
{
    DicomVolumeReader reader(std::make_shared<DatasetCache>(0));
    auto sets = reader.read(dir.path().toStdString(), nullptr);
    if (errors)
        *errors = reader.errors();
    return sets;
}

}  // namespace

// Slices written in shuffled order, tilted (the slice step is not along the normal of the
// oblique image plane): positions, directions and slice order must all come out right.
TEST(SeriesReading, TiltedObliqueSeriesGetsItsImageToWorldMatrix)
{
    T::TempDir dir;
    const Eigen::Matrix3d rotation = Eigen::AngleAxisd(0.4, Eigen::Vector3d(0.3, 1, 0.2).normalized()).matrix();
    const Eigen::Vector3d row = rotation.col(0), column = rotation.col(1);
    const Eigen::Vector3d step = rotation.col(2) * 2.5 + column * 0.6;  // gantry tilt
    const Eigen::Vector3d origin(-100, 20.5, 300);
    for (int k : {3, 0, 4, 1, 2})
        writeSlice(dir.file(QString("s%1.dcm").arg(k)), "1.2.3.9", origin + k * step, row, column, 100 * k, 5 - k);

    const auto sets = readFolder(dir);
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_EQ(sets[0].volumes.size(), 1u);
    const PixelVolume& v = sets[0].volumes[0];
    ASSERT_EQ(v.slices, 5);
    EXPECT_EQ(v.type, VoxelType::Int16);  // unsigned 12 bits with intercept -1024
    Eigen::Matrix4d m;
    for (int i = 0; i < 16; ++i)
        m(i / 4, i % 4) = v.imageToWorld[std::size_t(i)];
    for (int k = 0; k < 5; ++k) {
        const Eigen::Vector3d expected = origin + 3 * 0.7 * row + 2 * 0.5 * column + k * step;
        EXPECT_TRUE((m * Eigen::Vector4d(3, 2, k, 1)).head<3>().isApprox(expected, 1e-6)) << k;
        EXPECT_EQ(v.value(std::size_t(k) * kRows * kColumns + 3), 100 * k + 3 - 1024) << k;
    }
    EXPECT_NEAR(v.spacing[2], step.norm(), 1e-5);
}

TEST(SeriesReading, RepeatedPositionsBecomeATimeSeries)
{
    T::TempDir dir;
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < 3; ++k)
            writeSlice(dir.file(QString("t%1s%2.dcm").arg(t).arg(k)), "1.2.3.8", Eigen::Vector3d(0, 0, 4 * k),
                       Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(), 1000 * t + k, 3 * t + k + 1,
                       [t](DcmDataset& ds) { ds.putAndInsertString(DCM_TemporalPositionIdentifier, t ? "2" : "1"); });
    const auto sets = readFolder(dir);
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_EQ(sets[0].volumes.size(), 2u);
    EXPECT_EQ(sets[0].datasets.size(), 6u);
    for (int t = 0; t < 2; ++t)
        EXPECT_EQ(sets[0].volumes[std::size_t(t)].value(2 * kRows * kColumns), 1000 * t + 2 - 1024);
}

// Bad pixel data is a fatal error naming the file; its series is left out, the others load.
TEST(SeriesReading, UndecodablePixelDataFailsCleanly)
{
    struct Case
    {
        const char* name;
        std::function<void(DcmDataset&)> edit;
        E_TransferSyntax xfer;
    };
    const std::vector<Case> cases = {
        {"truncated",
         [](DcmDataset& ds) { ds.putAndInsertUint16Array(DCM_PixelData, std::vector<Uint16>(20).data(), 20); },
         EXS_LittleEndianExplicit},
        {"more frames than data", [](DcmDataset& ds) { ds.putAndInsertString(DCM_NumberOfFrames, "3"); },
         EXS_LittleEndianExplicit},
        {"garbage fragments",
         [](DcmDataset& ds) {
             DcmElement* element = nullptr;
             ds.findAndGetElement(DCM_PixelData, element);
             auto* sequence = new DcmPixelSequence(DcmTag(DCM_PixelData, EVR_OB));
             sequence->insert(new DcmPixelItem(DcmTag(DCM_Item, EVR_OB)));
             auto* fragment = new DcmPixelItem(DcmTag(DCM_Item, EVR_OB));
             std::vector<Uint8> junk(64, 0x5A);
             fragment->putUint8Array(junk.data(), 64);
             sequence->insert(fragment);
             static_cast<DcmPixelData*>(element)->putOriginalRepresentation(EXS_JPEGLSLossless, nullptr, sequence);
         },
         EXS_JPEGLSLossless},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        T::TempDir dir;
        for (int k = 0; k < 2; ++k)
            writeSlice(dir.file(QString("good%1.dcm").arg(k)), "1.2.3.1", Eigen::Vector3d(0, 0, k),
                       Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(), 10, k + 1);
        writeSlice(dir.file("bad1.dcm"), "1.2.3.2", Eigen::Vector3d(0, 0, 0), Eigen::Vector3d::UnitX(),
                   Eigen::Vector3d::UnitY(), 10, 1, c.edit, c.xfer);
        std::vector<Error> errors;
        const auto sets = readFolder(dir, &errors);
        ASSERT_EQ(sets.size(), 1u);
        EXPECT_EQ(sets[0].seriesInstanceUid, "1.2.3.1");
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back().type, Error::Fatal);
        EXPECT_NE(errors.back().message.find("bad1.dcm"), std::string::npos) << errors.back().message;
    }
}
