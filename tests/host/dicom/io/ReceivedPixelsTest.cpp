#include "host/dicom/io/ReceivedPixels.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestEnvironment.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcrleerg.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using Dravelin::Dicom::ReceivedPixels;

namespace {

// An 8-bit grey image of `columns` x 1 whose samples all hold `value`.
std::unique_ptr<DcmDataset> image(Uint8 value, int columns = 2)
{
    auto ds = std::make_unique<DcmDataset>();
    Dravelin::Test::putMonochromeImage(*ds, 1, columns, 8, 8);
    const std::vector<Uint8> pixels(std::size_t(columns), value);
    ds->putAndInsertUint8Array(DCM_PixelData, pixels.data(), pixels.size());
    return ds;
}

}  // namespace

// Slot k holds value k; the ordered buffer must hold the values the order names, slice by slice.
TEST(ReceivedPixels, PutsSlicesInAnyOrderInPlaceAndDropsTheOthers)
{
    const std::vector<std::vector<std::size_t>> orders = {
        {0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {1, 2, 0, 3, 4}, {3, 0, 4, 1, 2}, {4, 0}, {2}, {}};
    for (const auto& order : orders) {
        ReceivedPixels pixels;
        std::vector<std::unique_ptr<DcmDataset>> datasets;
        for (Uint8 k = 0; k < 5; ++k) {
            datasets.push_back(image(k));
            ASSERT_TRUE(pixels.take(*datasets.back(), k == 0 ? 0 : 5));
            EXPECT_FALSE(datasets.back()->tagExists(DCM_PixelData));
            EXPECT_EQ(pixels.slotOf(datasets.back().get()), long(k));
        }
        const std::vector<std::uint8_t> samples = pixels.takeOrdered(order);
        std::vector<std::uint8_t> expected;
        for (std::size_t slot : order)
            expected.insert(expected.end(), {std::uint8_t(slot), std::uint8_t(slot)});
        EXPECT_EQ(samples, expected) << "order of " << order.size();
    }
}

TEST(ReceivedPixels, LeavesOtherSizesMultiFrameAndCompressedImagesWhole)
{
    ReceivedPixels pixels;
    auto first = image(7);
    ASSERT_TRUE(pixels.take(*first, 0));
    auto wider = image(8, 3);
    auto frames = image(9);
    frames->putAndInsertString(DCM_NumberOfFrames, "2");
    // The same image as received in RLE.
    DcmRLEEncoderRegistration::registerCodecs();
    Dravelin::Test::TempDir dir;
    const std::string path = dir.file("rle.dcm").toStdString();
    DcmFileFormat rle(image(7).get());
    ASSERT_TRUE(rle.getDataset()->chooseRepresentation(EXS_RLELossless, nullptr).good());
    ASSERT_TRUE(rle.saveFile(path.c_str(), EXS_RLELossless).good());
    ASSERT_TRUE(rle.loadFile(path.c_str()).good());
    for (DcmDataset* other : {wider.get(), frames.get(), rle.getDataset()}) {
        EXPECT_FALSE(pixels.take(*other, 0));
        EXPECT_TRUE(other->tagExists(DCM_PixelData));
        EXPECT_EQ(pixels.slotOf(other), -1);
    }
    EXPECT_EQ(pixels.size(), 1u);
}
