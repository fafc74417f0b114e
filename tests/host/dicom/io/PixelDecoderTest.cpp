#include "host/dicom/Error.h"
#include "host/dicom/io/Jpeg2000Codec.h"
#include "host/dicom/io/PixelDecoder.h"
#include "tests/support/DataFixtures.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace Dravelin::Dicom;

namespace {

constexpr int kColumns = 9, kRows = 7;

std::vector<Uint16> frameValues(int frame)
{
    std::vector<Uint16> values(kRows * kColumns);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<Uint16>((frame * 977 + int(i) * 31) % 4096);
    return values;
}

// How a multi-frame JPEG 2000 image splits its code streams into fragments.
struct Layout
{
    const char* name;
    int frames;
    int fragmentsPerFrame;
};

class Jpeg2000Fragments : public ::testing::TestWithParam<Layout>
{
};

// Frames are found by the code stream's start marker whatever the fragment count, and decode
// to the values encoded.
TEST_P(Jpeg2000Fragments, EveryFrameDecodesToItsOwnValues)
{
    const Layout layout = GetParam();
    DcmFileFormat file;
    DcmDataset& ds = *file.getDataset();
    ds.putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    Dravelin::Test::putMonochromeImage(ds, kRows, kColumns, 16, 12);
    ds.putAndInsertString(DCM_NumberOfFrames, std::to_string(layout.frames).c_str());

    auto* sequence = new DcmPixelSequence(DcmTag(DCM_PixelData, EVR_OB));
    sequence->insert(new DcmPixelItem(DcmTag(DCM_Item, EVR_OB)));  // empty offset table
    for (int f = 0; f < layout.frames; ++f) {
        Jpeg2000Codec::Image image;
        image.width = kColumns;
        image.height = kRows;
        image.components = 1;
        image.precision = 12;
        const std::vector<Uint16> values = frameValues(f);
        image.samples.assign(values.begin(), values.end());
        std::vector<std::uint8_t> stream;
        std::string reason;
        ASSERT_TRUE(Jpeg2000Codec::encode(image, 0, stream, reason)) << reason;
        // Even-sized pieces; only the first starts with the start-of-codestream marker.
        stream.resize(stream.size() + stream.size() % 2, 0);
        const std::size_t piece = (stream.size() / layout.fragmentsPerFrame) & ~std::size_t(1);
        for (int k = 0; k < layout.fragmentsPerFrame; ++k) {
            const std::size_t begin = std::size_t(k) * piece;
            const std::size_t end = k + 1 == layout.fragmentsPerFrame ? stream.size() : begin + piece;
            auto* fragment = new DcmPixelItem(DcmTag(DCM_Item, EVR_OB));
            ASSERT_TRUE(fragment->putUint8Array(stream.data() + begin, static_cast<Uint32>(end - begin)).good());
            sequence->insert(fragment);
        }
    }
    auto* pixelData = new DcmPixelData(DCM_PixelData);
    pixelData->putOriginalRepresentation(EXS_JPEG2000LosslessOnly, nullptr, sequence);
    ds.insert(pixelData, true);
    ASSERT_TRUE(file.chooseRepresentation(EXS_JPEG2000LosslessOnly, nullptr).good());

    PixelDecoder decoder(ds);
    Error error;
    ASSERT_TRUE(decoder.open(error)) << error.message;
    std::vector<std::uint8_t> out(decoder.outputFrameBytes());
    // Backwards, so that no frame is found by continuing from the one before.
    for (int f = layout.frames - 1; f >= 0; --f) {
        SCOPED_TRACE(f);
        ASSERT_TRUE(decoder.decodeFrame(f, out.data(), error)) << error.message;
        std::vector<Uint16> decoded(out.size() / 2);
        std::memcpy(decoded.data(), out.data(), out.size());
        EXPECT_EQ(decoded, frameValues(f));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Jpeg2000Fragments,
                         ::testing::Values(Layout{"OneFrameInThreeFragments", 1, 3},
                                           Layout{"OneFragmentPerFrame", 3, 1}, Layout{"TwoFragmentsPerFrame", 3, 2},
                                           Layout{"ThreeFragmentsPerFrame", 2, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
