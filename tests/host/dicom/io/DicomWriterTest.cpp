#include "host/data/SharedImageSet.h"
#include "host/dicom/io/DicomDatasetFactory.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <dcmtk/config/osconfig.h>

#include <gtest/gtest.h>

#include <cmath>

using namespace Dravelin;
using Dicom::Compression;
namespace T = Dravelin::Test;

namespace {

// A tilted, offset CT volume of smooth values with negative ones, or an RGB image.
std::unique_ptr<SharedImageSet> makeSet(bool rgb)
{
    auto image = std::make_unique<SharedImage>(rgb ? PixelType::RGB : PixelType::Int16, 24, 20, rgb ? 2 : 4);
    for (int z = 0; z < image->slices(); ++z)
        for (int y = 0; y < image->height(); ++y)
            for (int x = 0; x < image->width(); ++x)
                for (int c = 0; c < image->channels(); ++c)
                    image->setValue(x, y, z, c,
                                    rgb ? x * 5 + y * 3 + z * 20 + c * 30 : -1000 + x * 37 + y * 11 + z * 101);
    Eigen::Affine3d m = Eigen::Affine3d::Identity();
    m.linear() = Eigen::AngleAxisd(0.3, Eigen::Vector3d(1, 0.2, 0).normalized()).toRotationMatrix();
    m.translation() = Eigen::Vector3d(-120.5, 33.25, 7);
    image->setImageToWorld(m);
    image->setSpacing(Eigen::Vector3d(0.75, 0.8, 2.5));
    image->setRescale(1.0, rgb ? 0.0 : -24.0);
    auto set = std::make_unique<SharedImageSet>(std::move(image));
    set->setModality(rgb ? Data::ModalityPhoto : Data::ModalityCT);
    set->setName("test");
    return set;
}

// Largest difference of real values allowed after a round trip.
double tolerance(Compression c, bool rgb)
{
    switch (c) {
        case Compression::JpegLossy: return rgb ? 40 : 30;
        case Compression::JpegLsNearLossless: return 3;
        case Compression::Jpeg2000Lossy: return rgb ? 40 : 80;  // 3 % of the range
        default: return 0;
    }
}

QStringList dicomFiles(const QString& folder)
{
    QStringList files;
    for (const QString& name : QDir(folder).entryList({"*.dcm"}, QDir::Files, QDir::Name))
        files << QDir(folder).filePath(name);
    return files;
}

using RoundTrip = ::testing::TestWithParam<std::tuple<int, bool>>;

}  // namespace

TEST_P(RoundTrip, WrittenFilesLoadBackAndPassTheIodChecker)
{
    const auto compression = static_cast<Compression>(std::get<0>(GetParam()));
    const bool rgb = std::get<1>(GetParam());
    T::TempDir dir;
    const auto input = makeSet(rgb);

    DicomIoAlgorithm writer(DicomIoAlgorithm::Write);
    writer.setInput(DataList{input.get()});
    writer.setCompression(compression);
    writer.setCompressionQuality(90);
    writer.setLocation(dir.path());
    writer.compute();
    ASSERT_EQ(writer.status(), 0) << (writer.caughtErrors().empty() ? "" : writer.caughtErrors()[0].message);
    const QStringList files = dicomFiles(dir.path());
    ASSERT_EQ(files.size(), rgb ? 1 : 4);  // CT: one instance per slice
    for (const QString& file : files)
        EXPECT_EQ(T::iodErrors(file, compression == Compression::DeflatedLittleEndian), "") << file.toStdString();

    DicomIoAlgorithm reader;
    reader.setLocation(dir.path());
    reader.compute();
    OwningDataList output = reader.takeOutput();
    const auto sets = output.getImages();
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_EQ(sets[0]->size(), 1);
    const SharedImage& in = *input->get();
    const SharedImage& back = *sets[0]->get();
    ASSERT_EQ(back.dimensions(), in.dimensions());
    ASSERT_EQ(back.channels(), in.channels());
    if (!rgb) {
        EXPECT_TRUE(back.voxelToWorld().matrix().isApprox(in.voxelToWorld().matrix(), 1e-5));
    }
    double worst = 0;
    for (int z = 0; z < in.slices(); ++z)
        for (int y = 0; y < in.height(); ++y)
            for (int x = 0; x < in.width(); ++x)
                for (int c = 0; c < in.channels(); ++c)
                    worst = std::max(worst, std::abs(back.realValue(x, y, z, c) - in.realValue(x, y, z, c)));
    EXPECT_LE(worst, tolerance(compression, rgb));

    // pydicom with its GDCM handler reads the same values back from lossless files.
    T::TempDir values;
    QProcess python;
    python.start(
        "/usr/bin/python3",
        QStringList{QStringLiteral(DRAVELIN_SOURCE_DIR "/tests/host/dicom/io/pydicom_pixels.py"), values.path()} +
            files);
    python.waitForFinished(-1);
    for (const QString& file : files)
        EXPECT_TRUE(QFileInfo::exists(values.file(QFileInfo(file).fileName() + ".f64"))) << file.toStdString();
}

INSTANTIATE_TEST_SUITE_P(EveryCompression, RoundTrip, ::testing::Combine(::testing::Range(0, 10), ::testing::Bool()),
                         [](const auto& info) {
                             return "compression" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_rgb" : "_ct");
                         });

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
        const auto datasets = Dicom::DicomDatasetFactory(nullptr, Compression::ExplicitLittleEndian).create(set, error);
        EXPECT_EQ(!datasets.empty(), c.written) << c.width << " x " << c.height;
    }
}
