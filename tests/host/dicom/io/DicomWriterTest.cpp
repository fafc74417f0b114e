#include "host/data/SharedImageSet.h"
#include "host/dicom/components/TagStoreDataComponent.h"
#include "host/dicom/io/DicomDatasetFactory.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "host/dicom/io/DicomWriter.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace Dravelin;
using Dicom::Compression;
namespace T = Dravelin::Test;

namespace {

enum class Kind { Ct, Mr, Byte, Rgb };

const char* kindName(Kind kind)
{
    static const char* const names[] = {"ct", "mr", "byte", "rgb"};
    return names[static_cast<int>(kind)];
}

std::unique_ptr<SharedImageSet> makeSet(PixelType type, int width, int height, int slices, int modality,
                                        const std::function<double(int, int, int, int)>& value)
{
    auto image = std::make_unique<SharedImage>(type, width, height, slices);
    for (int z = 0; z < slices; ++z)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < image->channels(); ++c)
                    image->setValue(x, y, z, c, value(x, y, z, c));
    image->setSpacing(Eigen::Vector3d(0.75, 0.8, 2.5));
    auto set = std::make_unique<SharedImageSet>(std::move(image));
    set->setModality(modality);
    set->setName("test");
    return set;
}

// CT: a tilted, offset volume of signed values with a rescale. MR: 16-bit values over the whole
// unsigned range (what lossy JPEG used to lose). Byte: 8-bit grey. RGB: colour.
std::unique_ptr<SharedImageSet> makeSet(Kind kind)
{
    switch (kind) {
        case Kind::Ct: {
            auto set = makeSet(PixelType::Int16, 24, 20, 4, Data::ModalityCT,
                               [](int x, int y, int z, int) { return -1000 + x * 37 + y * 11 + z * 101; });
            Eigen::Affine3d m = Eigen::Affine3d::Identity();
            m.linear() = Eigen::AngleAxisd(0.3, Eigen::Vector3d(1, 0.2, 0).normalized()).toRotationMatrix();
            m.translation() = Eigen::Vector3d(-120.5, 33.25, 7);
            set->get()->setImageToWorld(m);
            set->get()->setRescale(1.0, -24.0);
            return set;
        }
        case Kind::Mr:
            return makeSet(PixelType::UInt16, 24, 20, 2, Data::ModalityMR,
                           [](int x, int y, int z, int) { return x * 2800 + y * 57 + z * 10; });
        case Kind::Byte:
            return makeSet(PixelType::UInt8, 24, 20, 2, Data::ModalityPhoto,
                           [](int x, int y, int z, int) { return x * 8 + y * 3 + z * 5; });
        case Kind::Rgb:
            return makeSet(PixelType::RGB, 24, 20, 2, Data::ModalityPhoto,
                           [](int x, int y, int z, int c) { return x * 5 + y * 3 + z * 20 + c * 30; });
    }
    return nullptr;
}

std::pair<double, double> realRange(const SharedImage& image)
{
    const auto [lo, hi] = image.minMax();
    const double a = lo * image.rescaleSlope() + image.rescaleIntercept();
    const double b = hi * image.rescaleSlope() + image.rescaleIntercept();
    return {std::min(a, b), std::max(a, b)};
}

// The largest error the writer states for a compression at quality 90, in real values.
double statedBound(Compression c, Kind kind, const SharedImage& in)
{
    const int steps = Dicom::lossyBoundSteps(c, 90);
    if (steps == 0)
        return 0;
    if (kind == Kind::Rgb && c == Compression::JpegLossy)
        return 40;  // YCbCr with half-width chroma, as DICOM asks of lossy JPEG colour
    if (kind == Kind::Byte || kind == Kind::Rgb)
        return steps;  // grey levels
    if (c == Compression::JpegLossy) {
        const auto [lo, hi] = realRange(in);
        return steps * (hi - lo) / 4095;  // 12-bit samples spanning the range
    }
    return steps * in.rescaleSlope();  // integers of up to 16 bits keep their unit
}

QStringList dicomFiles(const QString& folder)
{
    QStringList files;
    for (const QString& name : QDir(folder).entryList({"*.dcm"}, QDir::Files, QDir::Name))
        files << QDir(folder).filePath(name);
    return files;
}

// Writes `set` into `folder` with `compression` at quality 90.
std::unique_ptr<DicomIoAlgorithm> write(const SharedImageSet& set, Compression compression, const QString& folder)
{
    auto writer = std::make_unique<DicomIoAlgorithm>(DicomIoAlgorithm::Write);
    writer->setInput(DataList{const_cast<SharedImageSet*>(&set)});
    writer->setCompression(compression);
    writer->setCompressionQuality(90);
    writer->setLocation(folder);
    writer->compute();
    return writer;
}

std::string firstError(const DicomIoAlgorithm& algorithm)
{
    return algorithm.caughtErrors().empty() ? std::string() : algorithm.caughtErrors().front().message;
}

// The largest difference of real values, as floats when `asFloat` (the precision they were held in).
double largestDifference(const SharedImage& a, const SharedImage& b, bool asFloat = false)
{
    double worst = 0;
    for (int z = 0; z < a.slices(); ++z)
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                for (int c = 0; c < a.channels(); ++c) {
                    const double u = a.realValue(x, y, z, c), v = b.realValue(x, y, z, c);
                    worst = std::max(worst, asFloat ? std::abs(double(float(u)) - double(float(v))) : std::abs(u - v));
                }
    return worst;
}

using RoundTrip = ::testing::TestWithParam<std::tuple<int, Kind>>;

}  // namespace

// Every compression, every kind of image: files that pass the IOD checker, geometry kept, values
// exact or within the stated bound, bytes kept as bytes, readable by pydicom.
TEST_P(RoundTrip, WrittenFilesLoadBackWithinTheStatedBoundAndPassTheIodChecker)
{
    const auto compression = static_cast<Compression>(std::get<0>(GetParam()));
    const Kind kind = std::get<1>(GetParam());
    T::TempDir dir;
    const auto input = makeSet(kind);
    const auto writer = write(*input, compression, dir.path());
    ASSERT_EQ(writer->status(), 0) << firstError(*writer);
    const QStringList files = dicomFiles(dir.path());
    const SharedImage& in = *input->get();
    const bool perSlice = kind == Kind::Ct || kind == Kind::Mr;
    ASSERT_EQ(files.size(), perSlice ? in.slices() : 1);
    for (const QString& file : files) {
        EXPECT_EQ(T::iodErrors(file, compression == Compression::DeflatedLittleEndian), "") << file.toStdString();
        DcmFileFormat written;
        ASSERT_TRUE(written.loadFile(file.toStdString().c_str()).good());
        Uint16 bits = 0;
        written.getDataset()->findAndGetUint16(DCM_BitsAllocated, bits);
        EXPECT_EQ(bits, kind == Kind::Byte || kind == Kind::Rgb ? 8 : 16) << file.toStdString();
    }

    OwningDataList output = T::readDicom(dir.path());
    const auto sets = output.getImages();
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_EQ(sets[0]->size(), 1);
    const SharedImage& back = *sets[0]->get();
    ASSERT_EQ(back.dimensions(), in.dimensions());
    ASSERT_EQ(back.channels(), in.channels());
    if (perSlice) {
        EXPECT_TRUE(back.voxelToWorld().matrix().isApprox(in.voxelToWorld().matrix(), 1e-5));
    }
    EXPECT_LE(largestDifference(in, back), statedBound(compression, kind, in));

    // pydicom with its GDCM handler reads the files too.
    T::TempDir values;
    QProcess python;
    python.start(
        "/usr/bin/python3",
        QStringList{QStringLiteral(DRAVELIN_SOURCE_DIR "/tests/host/dicom/io/pydicom_pixels.py"), values.path()} +
            files);
    python.waitForFinished(-1);
    // GDCM decodes no 12-bit lossy JPEG.
    if (compression != Compression::JpegLossy || kind == Kind::Byte || kind == Kind::Rgb) {
        for (const QString& file : files)
            EXPECT_TRUE(QFileInfo::exists(values.file(QFileInfo(file).fileName() + ".f64"))) << file.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCompression, RoundTrip,
                         ::testing::Combine(::testing::Range(0, 10),
                                            ::testing::Values(Kind::Ct, Kind::Mr, Kind::Byte, Kind::Rgb)),
                         [](const auto& info) {
                             return "compression" + std::to_string(std::get<0>(info.param)) + "_" +
                                    kindName(std::get<1>(info.param));
                         });

// 32-bit integers and floating point: written exactly where the object holds them, quantised
// within the bound by the lossy compressions, otherwise refused with the reason and nothing left
// behind.
TEST(DicomExport, WideAndFloatingPointValuesAreWrittenExactlyOrRefused)
{
    auto wideIntegers = [] {
        return makeSet(PixelType::Int32, 16, 12, 3, Data::ModalityPhoto,
                       [](int x, int y, int z, int) { return -100000 + x * 123457 + y * 9001 + z * 17; });
    };
    auto dose = [] {
        auto set = makeSet(PixelType::Int32, 10, 8, 3, Data::ModalityRTDose,
                           [](int x, int y, int z, int) { return 795000 + x * 41000 + y * 1234 + z * 7; });
        set->get()->setRescale(1e-6, 0);
        return set;
    };
    // Each slice is a rescale of integers, as slices with differing rescales load.
    auto slicedFloats = [] {
        return makeSet(PixelType::Float, 16, 12, 3, Data::ModalityCT,
                       [](int x, int y, int z, int) { return float((x * 12 + y) * 0.37 * (z + 1) - 5.5); });
    };
    auto freeFloats = [] {
        return makeSet(PixelType::Float, 16, 12, 2, Data::ModalityPET, [](int x, int y, int z, int) {
            return float(std::sin(x * 0.7 + y * 1.3 + z) * 1e3 + 1e-3 * x);
        });
    };
    struct Case
    {
        const char* name;
        std::function<std::unique_ptr<SharedImageSet>()> make;
        Compression compression;
        const char* refusal;  // empty: written
        double boundSteps;    // of 1/4095 (JPEG) or 1/65535 of the range (of the largest dose); 0: exact
    };
    const Case cases[] = {
        {"32-bit integers, uncompressed", wideIntegers, Compression::ImplicitLittleEndian, "32-bit samples", 0},
        {"32-bit integers, lossy JPEG", wideIntegers, Compression::JpegLossy, "", 22.0 / 4095},
        {"RT dose, uncompressed", dose, Compression::ExplicitLittleEndian, "", 0},
        {"RT dose, big endian", dose, Compression::ExplicitBigEndian, "", 0},
        {"RT dose, lossless JPEG-LS", dose, Compression::JpegLsLossless, "at most 16 bits", 0},
        {"RT dose, near-lossless JPEG-LS", dose, Compression::JpegLsNearLossless, "", 1.0 / 65535},
        {"floats a rescale per slice gives, uncompressed", slicedFloats, Compression::ImplicitLittleEndian, "", 0},
        {"other floats, uncompressed", freeFloats, Compression::ExplicitLittleEndian, "floating-point", 0},
        {"other floats, lossy JPEG 2000", freeFloats, Compression::Jpeg2000Lossy, "", 22.0 / 65535},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        T::TempDir dir;
        const QString folder = dir.file("new/out");
        const auto input = c.make();
        const auto writer = write(*input, c.compression, folder);
        if (*c.refusal) {
            EXPECT_NE(writer->status(), 0);
            EXPECT_NE(firstError(*writer).find(c.refusal), std::string::npos) << firstError(*writer);
            EXPECT_FALSE(QFileInfo::exists(dir.file("new")));
            continue;
        }
        ASSERT_EQ(writer->status(), 0) << firstError(*writer);
        OwningDataList output = T::readDicom(folder);
        const auto sets = output.getImages();
        ASSERT_EQ(sets.size(), 1u);
        const SharedImage& in = *input->get();
        const SharedImage& back = *sets[0]->get();
        ASSERT_EQ(back.dimensions(), in.dimensions());
        const auto [lo, hi] = realRange(in);
        const bool dose = input->modality() == Data::ModalityRTDose;  // scaled by a slope alone
        EXPECT_LE(largestDifference(in, back, c.boundSteps == 0), c.boundSteps * (dose ? hi : hi - lo));
    }
}

// Laterality belongs to paired body parts: none for the head, an empty one (unknown) for a knee
// or an unnamed part. Either way the IOD checker finds nothing to object to.
TEST(DicomExport, LateralityOnlyWhereTheBodyPartMayBePaired)
{
    for (const auto& [part, present] : {std::pair{"HEAD", false}, std::pair{"KNEE", true}, std::pair{"", true}}) {
        SCOPED_TRACE(part);
        auto set = makeSet(Kind::Ct);
        auto source = std::make_shared<DcmDataset>();
        source->putAndInsertString(DCM_Modality, "CT");
        if (*part)
            source->putAndInsertString(DCM_BodyPartExamined, part);
        set->addComponent(
            std::make_unique<Dicom::TagStoreDataComponent>(std::vector<std::shared_ptr<DcmDataset>>{source}));
        T::TempDir dir;
        const auto writer = write(*set, Compression::ExplicitLittleEndian, dir.path());
        ASSERT_EQ(writer->status(), 0) << firstError(*writer);
        const QString file = dicomFiles(dir.path()).front();
        DcmFileFormat written;
        ASSERT_TRUE(written.loadFile(file.toStdString().c_str()).good());
        EXPECT_EQ(written.getDataset()->tagExists(DCM_Laterality), present);
        EXPECT_EQ(T::iodErrors(file), "");
    }
}

// A folder write that fails once it has begun (here: cancelled) removes the files it wrote and
// the folders it created.
TEST(DicomExport, FailedFolderWriteLeavesNothingBehind)
{
    struct Cancelled : Progress
    {
        void setRange(long long) override {}
        void setValue(long long) override {}
        void setText(const std::string&) override {}
        bool wasCancelled() const override { return true; }
    } cancelled;
    const auto set = makeSet(Kind::Ct);
    Dicom::Error error;
    const auto datasets = Dicom::DicomDatasetFactory(nullptr).create(*set, error);
    ASSERT_EQ(datasets.size(), 4u);
    T::TempDir dir;
    EXPECT_FALSE(Dicom::DicomWriter().writeFolder(datasets, dir.file("a/b").toStdString(), &cancelled, error));
    EXPECT_EQ(error.code, Dicom::Error::Cancelled);
    EXPECT_FALSE(QFileInfo::exists(dir.file("a")));
}

// Rows and Columns are 16-bit: the largest size they hold is written, one more is refused.
TEST(DicomExport, ImageSizeLimitIsThatOfRowsAndColumns)
{
    struct Case
    {
        int width, height;
        bool written;
    };
    for (const Case& c : {Case{1, 65535, true}, Case{65535, 1, true}, Case{1, 65536, false}, Case{65536, 1, false}}) {
        SharedImageSet set(std::make_unique<SharedImage>(PixelType::UInt8, c.width, c.height));
        Dicom::Error error;
        const auto datasets = Dicom::DicomDatasetFactory(nullptr).create(set, error);
        EXPECT_EQ(!datasets.empty(), c.written) << c.width << " x " << c.height;
    }
}
