#include "host/dicom/DatasetCache.h"
#include "host/dicom/Utils.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>

using namespace Dravelin;
namespace Fixture = Dravelin::Test;
using Dicom::Utils::generatePreview;

namespace {

std::unique_ptr<MemImage> preview(const char* name, bool fit, std::optional<int> frame = std::nullopt)
{
    Dicom::DatasetCache cache;
    auto ds = cache.loadFromFile(Fixture::pydicomData(QString("test_files/") + name).toStdString(), nullptr, true);
    if (!ds)
        return nullptr;
    DcmDataset copy(*ds);
    return generatePreview(copy, fit, frame);
}

}  // namespace

TEST(GeneratePreview, RendersGreyAndColourImages)
{
    struct Case
    {
        const char* file;
        int width, height, channels;
    };
    const Case cases[] = {
        {"CT_small.dcm", 128, 128, 1},          {"MR_small.dcm", 64, 64, 1},
        {"MR_small_bigendian.dcm", 64, 64, 1},  {"JPEG-lossy.dcm", 256, 1024, 1},
        {"SC_rgb_small_odd.dcm", 3, 3, 3},      {"SC_rgb_rle.dcm", 100, 100, 3},
        {"SC_rgb_jpeg_dcmtk.dcm", 100, 100, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto image = preview(c.file, false);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(image->height, c.height);
        EXPECT_EQ(image->channels, c.channels);
        EXPECT_EQ(image->pixels.size(), size_t(c.width) * c.height * c.channels);
        // A rendering with contrast: not a single grey level.
        const auto [lo, hi] = std::minmax_element(image->pixels.begin(), image->pixels.end());
        EXPECT_LT(*lo + 20, *hi);
    }
}

TEST(GeneratePreview, ThumbnailsFitIn256Pixels)
{
    auto tall = preview("JPEG-lossy.dcm", true);
    ASSERT_TRUE(tall);
    EXPECT_EQ(tall->height, 256);
    EXPECT_EQ(tall->width, 64);
    auto small = preview("CT_small.dcm", true);  // never enlarged
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, 128);
}

TEST(GeneratePreview, CompressedGivesTheSameImageAsUncompressed)
{
    auto plain = preview("MR_small.dcm", false);
    ASSERT_TRUE(plain);
    for (const char* file : {"MR_small_RLE.dcm", "MR_small_jpeg_ls_lossless.dcm", "MR_small_bigendian.dcm"}) {
        SCOPED_TRACE(file);
        auto other = preview(file, false);
        ASSERT_TRUE(other);
        EXPECT_EQ(other->pixels, plain->pixels);
    }
}

TEST(GeneratePreview, FramesAndFailures)
{
    auto first = preview("SC_rgb_rle_2frame.dcm", false, 0);
    auto second = preview("SC_rgb_rle_2frame.dcm", false, 1);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(first->pixels, second->pixels);
    EXPECT_FALSE(preview("SC_rgb_rle_2frame.dcm", false, 2));
    EXPECT_FALSE(preview("SC_rgb_rle_2frame.dcm", false, -1));
    EXPECT_FALSE(preview("JPEG2000.dcm", false));  // no JPEG 2000 decoder in DCMTK here
    DcmDataset empty;
    EXPECT_FALSE(generatePreview(empty, true, std::nullopt));
}

TEST(GeneratePreview, RefusesRleHeadersThatPointOutsideTheFrame)
{
    // Multi-frame data holds one fragment per frame.
    ASSERT_TRUE(preview("SC_rgb_rle_16bit_2frame.dcm", false, 1));
    ASSERT_TRUE(preview("rtdose_rle.dcm", false, 14));
    Dicom::DatasetCache cache;
    auto ds = cache.loadFromFile(Fixture::pydicomData("test_files/MR_small_RLE.dcm").toStdString(), nullptr, true);
    ASSERT_TRUE(ds);
    // Header words (segment count, then offsets) of the first fragment, each made hostile.
    const std::pair<int, Uint32> patches[] = {{1, 0x7FFFFFF0u}, {1, 8}, {0, 0}, {0, 16}, {2, 64}};
    for (const auto& [word, value] : patches) {
        SCOPED_TRACE(word);
        DcmDataset copy(*ds);
        DcmElement* element = nullptr;
        DcmPixelSequence* sequence = nullptr;
        DcmPixelItem* fragment = nullptr;
        Uint8* data = nullptr;
        ASSERT_TRUE(copy.findAndGetElement(DCM_PixelData, element).good());
        auto* pixels = static_cast<DcmPixelData*>(element);
        ASSERT_TRUE(pixels->getEncapsulatedRepresentation(EXS_RLELossless, nullptr, sequence).good());
        ASSERT_TRUE(sequence->getItem(fragment, 1).good() && fragment->getUint8Array(data).good());
        for (int i = 0; i < 4; ++i)
            data[4 * word + i] = static_cast<Uint8>(value >> (8 * i));
        EXPECT_FALSE(generatePreview(copy, false, std::nullopt));
    }
}
