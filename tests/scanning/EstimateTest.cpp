#include "tests/scanning/TestDatasets.h"

#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <tuple>

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
        series.estimateDimensions();
        return image;
    }
};

std::optional<int> instanceOf(const Image* image)
{
    return image->instanceNumber;
}

}  // namespace

namespace Dravelin::Dicom {
void PrintTo(const DimensionsInfo& d, std::ostream* out)
{
    *out << "kind " << d.kind << ", " << d.width << "x" << d.height << "x" << d.slices << ", spacing " << d.spacing[0]
         << " " << d.spacing[1] << " " << d.spacing[2] << (d.hasSpacing ? "" : " (none)");
}
}  // namespace Dravelin::Dicom

namespace {

// Images of 64 x 32 pixels of 0.6 mm (rows) x 0.5 mm (columns), axial unless changed.
struct EstimateCase
{
    const char* name;
    std::vector<std::tuple<std::optional<int>, double, std::optional<int>>> images;  // instance, z, acquisition
    std::function<void(Image&)> changeLast;
    DimensionsInfo expected;
    bool logsMissingSpacing = false;
};

std::ostream& operator<<(std::ostream& out, const EstimateCase& c)
{
    return out << c.name;
}

const std::vector<EstimateCase> estimateCases = {
    {"Empty", {}, {}, DimensionsInfo()},
    {"SingleImage", {{1, 0, 1}}, {}, {1, 64, 32, 1, {0.6, 0.5, 1.0}, true}},
    {"ZeroPixelSpacingIsNoSpacing",
     {{1, 0, 1}},
     [](Image& i) {
         i.pixelSpacing = {0, 0};
     },
     {1, 64, 32, 1, {0, 0, 1.0}, false}},
    {"MultiFrameWithSpacingBetweenSlices",
     {{1, 0, 1}},
     [](Image& i) {
         i.numberOfFrames = "40";
         i.spacingBetweenSlices = 2.5;
     },
     {2, 64, 32, 40, {0.6, 0.5, 2.5}, true}},
    {"MultiFrameWithoutSpacingLogs",
     {{1, 0, 1}},
     [](Image& i) { i.numberOfFrames = "40"; },
     {2, 64, 32, 40, {0.6, 0.5, 1.0}, true},
     true},
    // The acquisition numbers are all 1: only the instance search finds the run.
    {"RunByInstanceNumber", {{2, 2, 1}, {1, 0, 1}, {3, 4, 1}}, {}, {2, 64, 32, 3, {0.6, 0.5, 2.0}, true}},
    {"RunByAcquisitionNumber",
     {{std::nullopt, 0, 1}, {std::nullopt, 3, 2}, {std::nullopt, 6, 3}},
     {},
     {2, 64, 32, 3, {0.6, 0.5, 3.0}, true}},
    {"UnevenPositionsKeepPartialValues", {{1, 0, 1}, {2, 2, 1}, {3, 5, 1}}, {}, {0, 64, 32, 3, {0.6, 0.5, 1.0}, true}},
    {"TwoImages", {{1, 0, 1}, {2, 2, 1}}, {}, DimensionsInfo()},
    {"NoRun", {{1, 0, 1}, {3, 2, 1}, {5, 4, 1}}, {}, DimensionsInfo()},
    {"OtherOrientationIsASetOf2DImages",
     {{1, 0, 1}, {2, 2, 1}, {3, 4, 1}},
     [](Image& i) { i.imageOrientation = {0, 1, 0, 0, 0, -1}; },
     {3, 64, 32, 3, {0.6, 0.5, 1.0}, true}},
    {"NanOrientationIsASetOf2DImages",
     {{1, 0, 1}, {2, 2, 1}, {3, 4, 1}},
     [](Image& i) { i.imageOrientation = {1, 0, 0, 0, 1, std::numeric_limits<double>::quiet_NaN()}; },
     {3, 64, 32, 3, {0.6, 0.5, 1.0}, true}},
};

using Estimates = ::testing::TestWithParam<EstimateCase>;

}  // namespace

TEST_P(Estimates, GiveTheGeometryOfTheSeries)
{
    const EstimateCase& c = GetParam();
    TestSeries s;
    Image* last = nullptr;
    for (const auto& [instance, z, acquisition] : c.images)
        last = s.add(instance, z, acquisition);
    if (c.changeLast)
        c.changeLast(*last);
    LogCapture log;
    s.series.estimateDimensions();
    EXPECT_EQ(s.series.estimatedDimensions, c.expected);
    EXPECT_EQ(log.count(kNoSpacingMessage, 1), c.logsMissingSpacing ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Table, Estimates, ::testing::ValuesIn(estimateCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Estimate, InsertKeepsCachedOrdersOrDropsStaleOnes)
{
    TestSeries s;
    s.add(3, 4);
    s.add(1, 0);
    s.add(2, 2);
    ASSERT_EQ(s.series.imagesByInstance.size(), 3u);
    EXPECT_EQ(s.series.imagesByInstance.front()->instanceNumber, 1);
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
