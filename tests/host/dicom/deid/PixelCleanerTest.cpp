#include "host/dicom/deid/PixelCleaner.h"
#include "host/dicom/io/DicomWriter.h"

#include "tests/support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcrleerg.h>
#include <dcmtk/dcmdata/dctk.h>

#include <memory>
#include <vector>

namespace Dravelin::Dicom {
namespace {

struct Image
{
    const char* name;
    int bits;
    int samples;
    const char* photometric;
    bool planar = false;
    bool isSigned = false;
    int frames = 1;
    E_TransferSyntax stored = EXS_LittleEndianExplicit;  // as read back from a file
    E_TransferSyntax written = EXS_Unknown;              // what writeSyntax answers
};

constexpr int kRows = 12;
constexpr int kColumns = 16;

// Values that differ from pixel to pixel, none of them the darkest of the image except one.
std::unique_ptr<DcmDataset> makeImage(const Image& image)
{
    auto dataset = std::make_unique<DcmDataset>();
    dataset->putAndInsertUint16(DCM_Rows, kRows);
    dataset->putAndInsertUint16(DCM_Columns, kColumns);
    dataset->putAndInsertUint16(DCM_SamplesPerPixel, image.samples);
    dataset->putAndInsertUint16(DCM_BitsAllocated, image.bits);
    dataset->putAndInsertUint16(DCM_BitsStored, image.bits);
    dataset->putAndInsertUint16(DCM_HighBit, image.bits - 1);
    dataset->putAndInsertUint16(DCM_PixelRepresentation, image.isSigned ? 1 : 0);
    dataset->putAndInsertString(DCM_PhotometricInterpretation, image.photometric);
    dataset->putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
    dataset->putAndInsertString(DCM_SOPInstanceUID, "1.2.3.4");
    if (image.samples == 3)
        dataset->putAndInsertUint16(DCM_PlanarConfiguration, image.planar ? 1 : 0);
    if (image.frames > 1)
        dataset->putAndInsertString(DCM_NumberOfFrames, std::to_string(image.frames).c_str());
    const size_t count = static_cast<size_t>(kRows) * kColumns * image.samples * image.frames;
    if (image.bits == 8) {
        std::vector<Uint8> values(count);
        for (size_t i = 0; i < count; ++i)
            values[i] = static_cast<Uint8>(40 + (i * 7) % 200);
        dataset->putAndInsertUint8Array(DCM_PixelData, values.data(), static_cast<unsigned long>(count));
    } else {
        std::vector<Uint16> values(count);
        for (size_t i = 0; i < count; ++i)
            values[i] =
                static_cast<Uint16>(image.isSigned ? -500 + static_cast<int>(i * 13 % 3000) : 1000 + i * 13 % 3000);
        dataset->putAndInsertUint16Array(DCM_PixelData, values.data(), static_cast<unsigned long>(count));
    }
    return dataset;
}

std::vector<int> samplesOf(DcmDataset& dataset, int bits, bool isSigned)
{
    std::vector<int> out;
    DcmElement* element = nullptr;
    if (dataset.findAndGetElement(DCM_PixelData, element).bad())
        return out;
    if (bits == 8) {
        Uint8* data = nullptr;
        element->getUint8Array(data);
        out.assign(data, data + element->getLength());
    } else {
        Uint16* data = nullptr;
        element->getUint16Array(data);
        for (unsigned long i = 0; i < element->getLength() / 2; ++i)
            out.push_back(isSigned ? static_cast<int16_t>(data[i]) : data[i]);
    }
    return out;
}

// The dataset as it comes back from a file written with `xfer`.
std::unique_ptr<DcmFileFormat> roundTrip(DcmDataset& dataset, E_TransferSyntax xfer, const QString& path)
{
    DcmFileFormat file(&dataset);
    // DCMTK has no JPEG 2000 encoder; the writer's is used.
    Error error;
    const bool encoded =
        xfer == EXS_JPEG2000LosslessOnly ? DicomWriter::encodeLosslessJpeg2000(*file.getDataset(), error)
        : xfer == EXS_JPEG2000           ? DicomWriter(Compression::Jpeg2000Lossy, 80).encode(*file.getDataset(), error)
                                         : file.getDataset()->chooseRepresentation(xfer, nullptr).good();
    if (!encoded || file.saveFile(QFile::encodeName(path).constData(), xfer).bad())
        return nullptr;
    auto read = std::make_unique<DcmFileFormat>();
    if (read->loadFile(QFile::encodeName(path).constData()).bad() || read->getDataset()->loadAllDataIntoMemory().bad())
        return nullptr;
    return read;
}

TEST(PixelCleaner, BlacksOutExactlyTheRegionsWithTheDarkestValue)
{
    DicomWriter::registerCodecs();
    DcmRLEEncoderRegistration::registerCodecs();
    const std::vector<Image> images{
        {"8-bit MONOCHROME2", 8, 1, "MONOCHROME2"},
        {"16-bit signed MONOCHROME2", 16, 1, "MONOCHROME2", false, true},
        {"16-bit MONOCHROME1", 16, 1, "MONOCHROME1"},
        {"RGB", 8, 3, "RGB"},
        {"RGB, planar", 8, 3, "RGB", true},
        {"YBR_FULL", 8, 3, "YBR_FULL"},
        {"multi-frame", 8, 1, "MONOCHROME2", false, false, 3},
        {"RLE, kept", 8, 3, "RGB", false, false, 2, EXS_RLELossless, EXS_RLELossless},
        {"JPEG-LS lossless, kept", 16, 1, "MONOCHROME2", false, false, 1, EXS_JPEGLSLossless, EXS_JPEGLSLossless},
        {"JPEG 2000 lossless, signed, kept", 16, 1, "MONOCHROME2", false, true, 2, EXS_JPEG2000LosslessOnly,
         EXS_JPEG2000LosslessOnly},
        {"JPEG 2000 lossless RGB, kept", 8, 3, "RGB", false, false, 1, EXS_JPEG2000LosslessOnly,
         EXS_JPEG2000LosslessOnly},
        {"JPEG 2000 lossy, written uncompressed", 8, 1, "MONOCHROME2", false, false, 1, EXS_JPEG2000,
         EXS_LittleEndianExplicit},
        {"JPEG baseline, written uncompressed", 8, 1, "MONOCHROME2", false, false, 1, EXS_JPEGProcess1,
         EXS_LittleEndianExplicit},
    };
    // Every frame, one frame only, and a rectangle partly outside the image.
    const std::vector<PixelCleaner::Region> regions{
        {-1, QRect(1, 2, 3, 4)}, {1, QRect(10, 0, 6, 5)}, {-1, QRect(14, 9, 10, 10)}};
    const auto inside = [&](int frame, int x, int y) {
        for (const auto& region : regions)
            if ((region.frame < 0 || region.frame == frame) && region.rect.contains(x, y))
                return true;
        return false;
    };
    Dravelin::Test::TempDir dir;
    for (const Image& image : images) {
        SCOPED_TRACE(image.name);
        auto made = makeImage(image);
        auto file =
            image.stored == EXS_LittleEndianExplicit ? nullptr : roundTrip(*made, image.stored, dir.file("in.dcm"));
        DcmDataset& dataset = file ? *file->getDataset() : *made;
        ASSERT_TRUE(image.stored == EXS_LittleEndianExplicit || (file && dataset.getOriginalXfer() == image.stored));
        const E_TransferSyntax source = dataset.getOriginalXfer();
        const std::vector<int> original = samplesOf(*makeImage(image), image.bits, image.isSigned);
        std::string error;
        ASSERT_TRUE(PixelCleaner::makeNative(dataset, &error)) << error;
        const std::vector<int> before = samplesOf(dataset, image.bits, image.isSigned);
        if (DcmXfer(source).isLossless()) {
            EXPECT_EQ(before, original) << "a lossless source decodes to the values it was made of";
        }
        ASSERT_TRUE(PixelCleaner::clean(dataset, regions, &error)) << error;
        std::string note;
        const E_TransferSyntax written = PixelCleaner::writeSyntax(dataset, source, &note);
        EXPECT_EQ(written, image.written);
        EXPECT_EQ(note.empty(), image.written == EXS_Unknown || image.written == image.stored) << note;
        // What a reader of the written file sees: the source's encoded pixels must not survive.
        auto back =
            roundTrip(dataset, written == EXS_Unknown ? EXS_LittleEndianExplicit : written, dir.file("out.dcm"));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->getDataset()->getOriginalXfer(), written == EXS_Unknown ? EXS_LittleEndianExplicit : written);
        ASSERT_TRUE(PixelCleaner::makeNative(*back->getDataset(), &error)) << error;
        const std::vector<int> after = samplesOf(*back->getDataset(), image.bits, image.isSigned);
        ASSERT_EQ(after.size(), before.size());
        const bool monochrome = image.samples == 1;
        const int darkest = monochrome ? (std::string(image.photometric) == "MONOCHROME1"
                                              ? *std::max_element(before.begin(), before.end())
                                              : *std::min_element(before.begin(), before.end()))
                                       : 0;
        int blacked = 0, changedOutside = 0, wrongInside = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            const size_t perFrame = static_cast<size_t>(kRows) * kColumns * image.samples;
            const int frame = static_cast<int>(i / perFrame);
            const size_t pixel = image.planar ? i % perFrame % (kRows * kColumns) : i % perFrame / image.samples;
            const int sample = image.planar ? static_cast<int>(i % perFrame / (kRows * kColumns))
                                            : static_cast<int>(i % perFrame % image.samples);
            const int x = static_cast<int>(pixel % kColumns);
            const int y = static_cast<int>(pixel / kColumns);
            if (inside(frame, x, y)) {
                const int expected = std::string(image.photometric) == "YBR_FULL" && sample > 0 ? 128 : darkest;
                wrongInside += after[i] != expected;
                ++blacked;
            } else {
                changedOutside += after[i] != before[i];
            }
        }
        EXPECT_GT(blacked, 0);
        EXPECT_EQ(wrongInside, 0);
        EXPECT_EQ(changedOutside, 0);
    }
}

TEST(PixelCleaner, RefusesWhatItCannotCleanAndLeavesThePixels)
{
    const std::vector<Image> images{
        {"palette colour", 8, 1, "PALETTE COLOR"},
        {"subsampled YBR", 8, 3, "YBR_FULL_422"},
        {"1-bit", 1, 1, "MONOCHROME2"},
    };
    for (const Image& image : images) {
        SCOPED_TRACE(image.name);
        auto dataset = makeImage(image.bits == 1 ? Image{image.name, 8, 1, "MONOCHROME2"} : image);
        if (image.bits == 1)
            dataset->putAndInsertUint16(DCM_BitsAllocated, 1);
        const std::vector<int> before = samplesOf(*dataset, 8, false);
        std::string error;
        EXPECT_FALSE(PixelCleaner::clean(*dataset, {{-1, QRect(0, 0, 4, 4)}}, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(samplesOf(*dataset, 8, false), before);
    }
    // Too short for its rows and columns.
    auto dataset = makeImage({"short", 8, 1, "MONOCHROME2"});
    dataset->putAndInsertUint16(DCM_Rows, kRows * 2);
    std::string error;
    EXPECT_FALSE(PixelCleaner::clean(*dataset, {{-1, QRect(0, 0, 4, 4)}}, &error));
    EXPECT_NE(error.find("shorter"), std::string::npos) << error;
}

}  // namespace
}  // namespace Dravelin::Dicom
