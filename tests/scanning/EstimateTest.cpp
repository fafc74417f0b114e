#include "tests/scanning/TestDatasets.h"

#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Dravelin;
using namespace Dravelin::Dicom;

namespace {

const char kNoSpacingMessage[] =
    "Estimating the spacing of single file volumes without SpacingBetweenSlices is not implemented yet";

// A series owning images built by hand, inserted one after the other.
struct TestSeries
{
    Series series{nullptr};

    Image* add(std::optional<int> instance, double z, std::optional<int> acquisition = 1)
    {
        auto* image = new Image(&series);
        image->instanceNumber = instance;
        image->instanceNumberText = instance ? QString::number(*instance) : QString();
        image->acquisitionNumber = acquisition;
        image->width = "64";
        image->height = "32";
        image->pixelSpacing = {0.5, 0.6};
        image->imageOrientation = {1, 0, 0, 0, 1, 0};
        image->imagePosition = {10, 20, z};
        series.insertImage(series.images.end(), image);
        return image;
    }
};

std::optional<int> instanceOf(const Image* image)
{
    return image->instanceNumber;
}

}  // namespace

TEST(Estimate, EmptyAndSingleImage)
{
    TestSeries empty;
    empty.series.estimateDimensions();
    EXPECT_EQ(empty.series.estimatedDimensions, DimensionsInfo());

    TestSeries one;
    one.add(1, 0);
    const DimensionsInfo& e = one.series.estimatedDimensions;
    EXPECT_EQ(e.kind, 1);
    EXPECT_EQ(e.width, 64);
    EXPECT_EQ(e.height, 32);
    EXPECT_EQ(e.slices, 1);
    EXPECT_EQ(e.spacing, (std::array<double, 3>{0.6, 0.5, 1.0}));
    EXPECT_TRUE(e.hasSpacing);
}

TEST(Estimate, MultiFrameFileUsesSpacingBetweenSlicesOrLogs)
{
    TestSeries withSpacing;
    Image* image = withSpacing.add(1, 0);
    image->numberOfFrames = "40";
    image->spacingBetweenSlices = 2.5;
    {
        LogCapture log;
        withSpacing.series.estimateDimensions();
        EXPECT_FALSE(log.contains(kNoSpacingMessage));
    }
    EXPECT_EQ(withSpacing.series.estimatedDimensions.kind, 2);
    EXPECT_EQ(withSpacing.series.estimatedDimensions.slices, 40);
    EXPECT_EQ(withSpacing.series.estimatedDimensions.spacing[2], 2.5);

    image->spacingBetweenSlices.reset();
    LogCapture log;
    withSpacing.series.estimateDimensions();
    EXPECT_EQ(withSpacing.series.estimatedDimensions.kind, 2);
    EXPECT_EQ(withSpacing.series.estimatedDimensions.spacing[2], 1.0);
    ASSERT_EQ(log.count(kNoSpacingMessage, 1), 1);
    EXPECT_EQ(log.entries().back().channel, "DICOM");
}

TEST(Estimate, ThreeImagesByInstanceNumber)
{
    TestSeries s;
    s.add(2, 2);
    s.add(1, 0);
    s.add(3, 4);
    // The acquisition numbers are all 1: only the instance search finds the run.
    const DimensionsInfo& e = s.series.estimatedDimensions;
    EXPECT_EQ(e.kind, 2);
    EXPECT_EQ(e.slices, 3);
    EXPECT_DOUBLE_EQ(e.spacing[2], 2.0);
    EXPECT_EQ(s.series.imagesByInstance.size(), 3u);
    EXPECT_EQ(s.series.imagesByInstance[0]->instanceNumber, 1);
}

TEST(Estimate, AcquisitionRunTakesPrecedence)
{
    TestSeries s;
    s.add(std::nullopt, 0, 1);
    s.add(std::nullopt, 3, 2);
    s.add(std::nullopt, 6, 3);
    EXPECT_EQ(s.series.estimatedDimensions.kind, 2);
    EXPECT_DOUBLE_EQ(s.series.estimatedDimensions.spacing[2], 3.0);
}

TEST(Estimate, UnevenPositionsKeepPartialValues)
{
    TestSeries s;
    s.add(1, 0);
    s.add(2, 2);
    s.add(3, 5);
    const DimensionsInfo& e = s.series.estimatedDimensions;
    EXPECT_EQ(e.kind, 0);
    EXPECT_EQ(e.width, 64);
    EXPECT_EQ(e.height, 32);
    EXPECT_EQ(e.slices, 3);
    EXPECT_EQ(e.spacing, (std::array<double, 3>{0.6, 0.5, 1.0}));
}

TEST(Estimate, TwoImagesOrNoRunGiveAllZeros)
{
    TestSeries two;
    two.add(1, 0);
    two.add(2, 2);
    EXPECT_EQ(two.series.estimatedDimensions, DimensionsInfo());

    TestSeries gaps;
    gaps.add(1, 0);
    gaps.add(3, 2);
    gaps.add(5, 4);
    EXPECT_EQ(gaps.series.estimatedDimensions, DimensionsInfo());
}

TEST(Estimate, DifferentOrientationsAreASetOf2DImages)
{
    TestSeries s;
    s.add(1, 0);
    s.add(2, 2);
    Image* odd = s.add(3, 4);
    odd->imageOrientation = {0, 1, 0, 0, 0, -1};
    s.series.estimateDimensions();
    EXPECT_EQ(s.series.estimatedDimensions.kind, 3);

    odd->imageOrientation = {1, 0, 0, 0, 1, std::numeric_limits<double>::quiet_NaN()};
    s.series.estimateDimensions();
    EXPECT_EQ(s.series.estimatedDimensions.kind, 3);
}

TEST(Estimate, ZeroPixelSpacingHasNoSpacing)
{
    TestSeries s;
    Image* image = s.add(1, 0);
    image->pixelSpacing = {0, 0};
    s.series.estimateDimensions();
    EXPECT_FALSE(s.series.estimatedDimensions.hasSpacing);
    EXPECT_EQ(s.series.estimatedDimensions.spacing[0], 0.0);
    EXPECT_EQ(s.series.estimatedDimensions.spacing[1], 0.0);
}

TEST(Estimate, InsertKeepsCachedOrdersOrDropsStaleOnes)
{
    TestSeries s;
    s.add(3, 4);
    s.add(1, 0);
    s.add(2, 2);
    ASSERT_EQ(s.series.imagesByInstance.size(), 3u);
    s.add(0, -2);  // cache current: inserted at its upper bound
    EXPECT_EQ(s.series.imagesByInstance.front()->instanceNumber, 0);
    s.series.imagesByAcquisition.pop_back();  // make it stale
    s.add(5, 8);
    EXPECT_TRUE(s.series.imagesByAcquisition.empty() || s.series.imagesByAcquisition.size() == 5u);
    EXPECT_EQ(s.series.imagesByInstance.size(), 5u);
}

TEST(FindIndexOfAscendingNumbers, RunsAndBreaks)
{
    std::vector<std::unique_ptr<Image>> owned;
    auto images = [&owned](std::vector<std::optional<int>> numbers) {
        std::vector<Image*> list;
        for (auto n : numbers) {
            owned.push_back(std::make_unique<Image>(nullptr));
            owned.back()->instanceNumber = n;
            list.push_back(owned.back().get());
        }
        return list;
    };
    EXPECT_EQ(findIndexOfAscendingNumbers(3, images({9, 1, 4, 5, 6}), instanceOf), 2);
    EXPECT_EQ(findIndexOfAscendingNumbers(3, images({1, 2, std::nullopt, 3, 4}), instanceOf), -1);
    EXPECT_EQ(findIndexOfAscendingNumbers(3, images({1}), instanceOf), -1);
    EXPECT_EQ(findIndexOfAscendingNumbers(2, images({7, 3, 4}), instanceOf), 1);
    EXPECT_EQ(findIndexOfAscendingNumbers(1, images({1, std::nullopt}), instanceOf), 1);
    EXPECT_EQ(findIndexOfAscendingNumbers(3, images({std::numeric_limits<int>::max(), 0, 1, 2}), instanceOf), 1);
}

TEST(UpdateDimensions, PacsImagesAreNotLoaded)
{
    TestSeries s;
    Image* image = s.add(1, 0);
    image->location = Filesystem::Url(std::string("pacs://server/1.2.3"));
    s.series.dimensions.push_back(DimensionsInfo{1, 1, 1, 1, {1, 1, 1}, false});
    s.series.updateDimensions(std::make_shared<DatasetCache>(4));
    EXPECT_TRUE(s.series.dimensions.empty());
}

// Equal texts of images in one series are kept once; a differing text stays the image's own.
TEST(Series, ImagesShareEqualTexts)
{
    TestSeries s;
    Image* first = s.add(1, 0);
    Image* second = s.add(2, 1);
    auto* other = new Image(&s.series);
    other->width = "128";
    other->height = QString("32");
    s.series.insertImage(s.series.images.begin(), other);  // its neighbour is `first`
    EXPECT_EQ(first->width.constData(), second->width.constData());
    EXPECT_EQ(other->height.constData(), first->height.constData());
    EXPECT_EQ(other->width, "128");
    EXPECT_EQ(first->width, "64");
    EXPECT_TRUE(other->manufacturer.isNull());
}
