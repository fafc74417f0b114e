#include "host/data/DataGroup.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "host/dicom/io/DicomVolumeReader.h"
#include "host/dicom/io/RTStructureReader.h"
#include "tests/support/AddressSpaceLimit.h"
#include "tests/support/TestEnvironment.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcrleerg.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace Dravelin;
using namespace Dravelin::Dicom;
namespace T = Dravelin::Test;

namespace {

// A pydicom sample file, changed by `edit`, written to `path` in the transfer syntax it was read in.
bool writeEdited(const QString& sample, const QString& path, const std::function<void(DcmDataset&)>& edit,
                 E_TransferSyntax xfer = EXS_Unknown)
{
    DcmFileFormat file;
    if (file.loadFile(T::pydicomData("test_files/" + sample).toUtf8().constData()).bad())
        return false;
    DcmDataset& ds = *file.getDataset();
    DcmRLEEncoderRegistration::registerCodecs();
    if (xfer == EXS_Unknown)
        xfer = ds.getOriginalXfer();
    else if (ds.chooseRepresentation(xfer, nullptr).bad())
        return false;
    edit(ds);
    return file.saveFile(path.toUtf8().constData(), xfer).good();
}

void setText(DcmDataset& ds, const DcmTagKey& key, const char* value)
{
    ds.putAndInsertString(key, value);
}

// The first fragment of RLE pixel data, for changing its header in place.
Uint8* firstFragment(DcmDataset& ds)
{
    DcmElement* element = nullptr;
    DcmPixelSequence* sequence = nullptr;
    DcmPixelItem* item = nullptr;
    Uint8* bytes = nullptr;
    if (ds.findAndGetElement(DCM_PixelData, element).bad() ||
        static_cast<DcmPixelData*>(element)->getEncapsulatedRepresentation(EXS_RLELossless, nullptr, sequence).bad() ||
        sequence->getItem(item, 1).bad() || item->getUint8Array(bytes).bad())
        return nullptr;
    return bytes;
}

struct HostileImage
{
    const char* name;
    const char* sample;
    E_TransferSyntax encode;  // EXS_Unknown: as the sample is
    std::function<void(DcmDataset&)> edit;
    const char* reason;
};

class HostilePixelData : public ::testing::TestWithParam<HostileImage>
{
};

}  // namespace

// Each once crashed the reader or made it allocate gigabytes for a few kilobytes of data; now
// each is one fatal error naming the file and the reason, with memory to spare under the cap.
TEST_P(HostilePixelData, IsRefusedWithTheReasonBeforeAnythingIsAllocated)
{
    const HostileImage& c = GetParam();
    T::TempDir dir;
    const QString path = dir.file(QString(c.name) + ".dcm");
    ASSERT_TRUE(writeEdited(c.sample, path, c.edit, c.encode));

    DicomVolumeReader reader(std::make_shared<DatasetCache>(0));
    std::vector<LoadedImageSet> sets;
    {
        T::AddressSpaceLimit limit(std::size_t(512) << 20);
        sets = reader.read(path.toStdString(), nullptr);
    }
    EXPECT_TRUE(sets.empty());
    ASSERT_FALSE(reader.errors().empty());
    const Error& error = reader.errors().back();
    EXPECT_EQ(error.type, Error::Fatal);
    EXPECT_NE(error.message.find(path.toStdString()), std::string::npos) << error.message;
    EXPECT_NE(error.message.find(c.reason), std::string::npos) << error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Reproducers, HostilePixelData,
    ::testing::Values(
        // A segment offset of DCMTK's own RLE output pointing past the data: DCMTK read there.
        HostileImage{"RleOffsetPastData", "CT_small.dcm", EXS_RLELossless,
                     [](DcmDataset& ds) {
                         if (Uint8* header = firstFragment(ds))
                             header[8] = header[9] = header[10] = 0xF0, header[11] = 0x7F;
                     },
                     "RLE segment offset outside the frame"},
        HostileImage{"JpegClaims100000Frames", "JPEG-lossy.dcm", EXS_Unknown,
                     [](DcmDataset& ds) { setText(ds, DCM_NumberOfFrames, "100000"); },
                     "100000 frames declared, but the compressed pixel data holds only 1 fragment"},
        HostileImage{"RleClaimsMaximumFrames", "CT_small.dcm", EXS_RLELossless,
                     [](DcmDataset& ds) { setText(ds, DCM_NumberOfFrames, "2147483647"); },
                     "2147483647 frames declared"},
        HostileImage{"JpegOf65535Squared", "JPEG-lossy.dcm", EXS_Unknown,
                     [](DcmDataset& ds) {
                         ds.putAndInsertUint16(DCM_Rows, 65535);
                         ds.putAndInsertUint16(DCM_Columns, 65535);
                     },
                     "JPEG header declares 256 x 1024 pixels with 1 component(s), the image attributes 65535 x 65535"},
        HostileImage{"RleOf65535Squared", "CT_small.dcm", EXS_RLELossless,
                     [](DcmDataset& ds) {
                         ds.putAndInsertUint16(DCM_Rows, 65535);
                         ds.putAndInsertUint16(DCM_Columns, 65535);
                     },
                     "too short for 65535 x 65535 pixels"},
        HostileImage{"Jpeg2000Of65535Squared", "JPEG2000.dcm", EXS_Unknown,
                     [](DcmDataset& ds) {
                         ds.putAndInsertUint16(DCM_Rows, 65535);
                         ds.putAndInsertUint16(DCM_Columns, 65535);
                     },
                     "JPEG 2000 header declares 256 x 1024 pixels"}),
    [](const auto& info) { return std::string(info.param.name); });

// What the data can hold but the setting does not allow is refused as such.
TEST(VolumeLimit, AVolumeLargerThanTheLimitIsRefusedNamingTheSetting)
{
    const QString path = T::pydicomData("test_files/CT_small.dcm");
    DicomVolumeReader reader(std::make_shared<DatasetCache>(0));
    reader.setVolumeLimit(16 << 10);  // the image is 128 x 128 x 16 bits: 32 KiB
    EXPECT_TRUE(reader.read(path.toStdString(), nullptr).empty());
    ASSERT_FALSE(reader.errors().empty());
    EXPECT_NE(reader.errors().back().message.find("would take 32 KiB, more than the 16 KiB one volume may take "
                                                  "(DICOM setting 'Largest Volume')"),
              std::string::npos)
        << reader.errors().back().message;
    reader.setVolumeLimit(32 << 10);
    EXPECT_EQ(reader.read(path.toStdString(), nullptr).size(), 1u);
}

namespace {

using Matrix = std::array<double, 16>;

double determinant(const Matrix& m)
{
    return m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) +
           m[2] * (m[4] * m[9] - m[5] * m[8]);
}

double columnLength(const Matrix& m, int c)
{
    return std::sqrt(m[std::size_t(c)] * m[std::size_t(c)] + m[std::size_t(4 + c)] * m[std::size_t(4 + c)] +
                     m[std::size_t(8 + c)] * m[std::size_t(8 + c)]);
}

struct DegenerateGeometry
{
    const char* name;
    // Changes slice k (of three, 5 mm apart along z as written). Slices without a usable
    // position are images of their own.
    std::function<void(DcmDataset&, int k)> edit;
    const char* warning;
    std::array<double, 3> spacing;  // what the image-to-world matrix's columns measure afterwards
};

class DegenerateGeometryTest : public ::testing::TestWithParam<DegenerateGeometry>
{
};

void position(DcmDataset& ds, double x, double y, double z)
{
    ds.putAndInsertString(DCM_ImagePositionPatient,
                          (std::to_string(x) + "\\" + std::to_string(y) + "\\" + std::to_string(z)).c_str());
}

}  // namespace

// Degenerate geometry is repaired with a warning naming the file, never turned into a singular
// (or zero) image-to-world matrix.
TEST_P(DegenerateGeometryTest, IsRepairedWithAWarningAndAnInvertibleMatrix)
{
    const DegenerateGeometry& c = GetParam();
    T::TempDir dir;
    for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(writeEdited("CT_small.dcm", dir.file(QString("slice%1.dcm").arg(k)), [&](DcmDataset& ds) {
            setText(ds, DCM_ImageOrientationPatient, "1\\0\\0\\0\\1\\0");
            setText(ds, DCM_PixelSpacing, "0.5\\0.5");
            setText(ds, DCM_SOPInstanceUID, ("1.2.3.4.5." + std::to_string(k + 1)).c_str());
            setText(ds, DCM_InstanceNumber, std::to_string(k + 1).c_str());
            position(ds, 0, 0, 5.0 * k);
            c.edit(ds, k);
        }));
    DicomVolumeReader reader(std::make_shared<DatasetCache>(0));
    const auto sets = reader.read(dir.path().toStdString(), nullptr);
    ASSERT_EQ(sets.size(), 1u);
    int slices = 0;
    for (const PixelVolume& v : sets.front().volumes) {
        slices += v.slices;
        EXPECT_TRUE(
            std::all_of(v.imageToWorld.begin(), v.imageToWorld.end(), [](double x) { return std::isfinite(x); }));
        EXPECT_GT(std::abs(determinant(v.imageToWorld)), 1e-6);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_NEAR(columnLength(v.imageToWorld, axis), c.spacing[std::size_t(axis)], 1e-9) << axis;
            EXPECT_NEAR(v.spacing[std::size_t(axis)], c.spacing[std::size_t(axis)], 1e-9) << axis;
        }
    }
    EXPECT_EQ(slices, 3);
    const auto warning = std::find_if(reader.errors().begin(), reader.errors().end(), [&](const Error& e) {
        return e.type == Error::Warning && e.message.find(c.warning) != std::string::npos;
    });
    ASSERT_NE(warning, reader.errors().end()) << (reader.errors().empty() ? "" : reader.errors().front().message);
    EXPECT_NE(warning->message.find(dir.path().toStdString()), std::string::npos) << warning->message;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DegenerateGeometryTest,
    ::testing::Values(
        DegenerateGeometry{"ZeroPixelSpacing",
                           [](DcmDataset& ds, int) { setText(ds, DCM_PixelSpacing, "0\\0"); },
                           "PixelSpacing 0\\0 is no spacing; 1 mm is used (and in 2 more files)",
                           {1, 1, 5}},
        DegenerateGeometry{"CollinearOrientation",
                           [](DcmDataset& ds, int) { setText(ds, DCM_ImageOrientationPatient, "1\\0\\0\\1\\0\\0"); },
                           "gives no plane (its directions are zero or parallel); the image is taken as axial",
                           {0.5, 0.5, 5}},
        DegenerateGeometry{"OrientationNotOfUnitLength",
                           [](DcmDataset& ds, int) { setText(ds, DCM_ImageOrientationPatient, "2\\0\\0\\0\\3\\0"); },
                           "is not two orthogonal unit vectors; they are made so",
                           {0.5, 0.5, 5}},
        DegenerateGeometry{"PositionFarOutside",
                           [](DcmDataset& ds, int k) {
                               if (k == 1)
                                   setText(ds, DCM_ImagePositionPatient, "1e308\\0\\5");
                           },
                           "ImagePositionPatient 1e+308\\0\\5 is no position",
                           {0.5, 0.5, 5}},
        DegenerateGeometry{"PositionNotANumber",
                           [](DcmDataset& ds, int k) {
                               if (k == 1)
                                   setText(ds, DCM_ImagePositionPatient, "NaN\\0\\5");
                           },
                           "ImagePositionPatient NaN\\0\\5 is no position",
                           {0.5, 0.5, 5}}),
    [](const auto& info) { return std::string(info.param.name); });

// A contour the reader leaves out is named with its structure set, ROI and why.
TEST(RTStructureReaderContours, EachContourLeftOutIsNamedWithTheReason)
{
    auto dataset = std::make_shared<DcmDataset>();
    setText(*dataset, DCM_Modality, "RTSTRUCT");
    setText(*dataset, DCM_StructureSetLabel, "Plan");
    DcmItem* roi = nullptr;
    DcmItem* roiContour = nullptr;
    ASSERT_TRUE(dataset->findOrCreateSequenceItem(DCM_StructureSetROISequence, roi, -2).good());
    roi->putAndInsertString(DCM_ROINumber, "2");
    roi->putAndInsertString(DCM_ROIName, "Odd");
    ASSERT_TRUE(dataset->findOrCreateSequenceItem(DCM_ROIContourSequence, roiContour, -2).good());
    roiContour->putAndInsertString(DCM_ReferencedROINumber, "2");
    for (const char* data : {"0\\0\\1\\9\\0\\1\\9", "0\\0\\1\\9\\0\\1\\9\\9\\1"}) {
        DcmItem* contour = nullptr;
        ASSERT_TRUE(roiContour->findOrCreateSequenceItem(DCM_ContourSequence, contour, -2).good());
        contour->putAndInsertString(DCM_ContourGeometricType, "CLOSED_PLANAR");
        contour->putAndInsertString(DCM_ContourData, data);
    }
    std::vector<Error> errors;
    const auto groups = RTStructureReader::read({dataset}, errors);
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.front().message,
              "RT structure set 'Plan', ROI 2 'Odd': contour 1 has 7 coordinates, which are "
              "no (x, y, z) points; it is left out");
    const auto* rt = groups.front()->children().front()->getComponent<RTStructureDataComponent>();
    ASSERT_NE(rt, nullptr);
    EXPECT_EQ(rt->contours.size(), 1u);
}
