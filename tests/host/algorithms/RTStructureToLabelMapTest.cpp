#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "tests/support/RtPhantom.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iterator>
#include <limits>

using namespace Dravelin;
using Dicom::RTStructureDataComponent;
using Contour = RTStructureDataComponent::Contour;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInf = std::numeric_limits<double>::infinity();

class RTStructureToLabelMapTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        phantom = new Dravelin::Test::RtPhantom(Dravelin::Test::loadRtPhantom());
        ASSERT_NE(phantom->volume, nullptr);
        ASSERT_EQ(phantom->structures.size(), 3u);
    }
    static void TearDownTestSuite() { delete phantom; }

    static std::unique_ptr<SharedImage> labelsOf(int roi)
    {
        return RTStructureToLabelMap::rasterize({phantom->structures[static_cast<std::size_t>(roi - 1)]},
                                                *phantom->volume->get(0));
    }
    static std::size_t count(const SharedImage& labels, int value)
    {
        const auto* v = labels.typedData<std::uint16_t>();
        return static_cast<std::size_t>(std::count(v, v + labels.voxelCount(), value));
    }
    // The label of the voxel nearest to a world point.
    static int labelAt(const SharedImage& labels, const Eigen::Vector3d& world)
    {
        const Eigen::Vector3d v = labels.worldToVoxel() * world;
        return static_cast<int>(labels.value(static_cast<int>(std::lround(v.x())), static_cast<int>(std::lround(v.y())),
                                             static_cast<int>(std::lround(v.z()))));
    }

    // A ROI of its own with these contours, or (no contours given) phantom ROI `roi` renumbered.
    static std::unique_ptr<PointCloud> roiCloud(int number, int roi, std::vector<Contour> contours = {})
    {
        auto rt = std::make_unique<RTStructureDataComponent>();
        if (roi > 0)
            rt->contours = phantom->structures[static_cast<std::size_t>(roi - 1)]
                               ->getComponent<RTStructureDataComponent>()
                               ->contours;
        else
            rt->contours = std::move(contours);
        rt->roiNumber = number;
        auto cloud = std::make_unique<PointCloud>();
        cloud->addComponent(std::move(rt));
        return cloud;
    }

    static Dravelin::Test::RtPhantom* phantom;
};
Dravelin::Test::RtPhantom* RTStructureToLabelMapTest::phantom = nullptr;

TEST_F(RTStructureToLabelMapTest, VolumesOfKnownShapesMatchTheAnalyticOnes)
{
    const double voxel = 1.0 * 1.0 * 2.0;
    struct Case
    {
        int roi;
        double analytic;  // mm^3
    };
    const Case cases[] = {
        {1, 4.0 / 3.0 * kPi * 20 * 20 * 20},
        {2, (40.0 * 40 - 20 * 20 + 8 * 8) * 20},
        {3, kPi * 12 * 12 * 2.0 * 10},  // ten contoured slices of 2 mm
    };
    for (const Case& c : cases) {
        const auto labels = labelsOf(c.roi);
        ASSERT_NE(labels, nullptr);
        EXPECT_NEAR(static_cast<double>(count(*labels, c.roi)) * voxel, c.analytic, 0.02 * c.analytic) << c.roi;
    }
}

TEST_F(RTStructureToLabelMapTest, HolesIslandsAndSkippedSlicesStayRight)
{
    const auto box = labelsOf(2);
    EXPECT_EQ(labelAt(*box, {25 + 15, 25, 1}), 2);   // the wall
    EXPECT_EQ(labelAt(*box, {25 + 7, 25, 1}), 0);    // the hole
    EXPECT_EQ(labelAt(*box, {25, 25, 1}), 2);        // the island in the hole
    EXPECT_EQ(labelAt(*box, {25 + 15, 25, 13}), 0);  // above the box

    // Contours 0.6 mm below slice 10, 12, ... fill those slices only (not the ones below them);
    // the slices in between stay empty.
    const auto cylinder = labelsOf(3);
    const SharedImage& grid = *phantom->volume->get(0);
    const Eigen::Vector3d centre(-35, 35, 0);
    for (int k = 0; k < grid.slices(); ++k) {
        const double z = (grid.voxelToWorld() * Eigen::Vector3d(0, 0, k)).z();
        EXPECT_EQ(labelAt(*cylinder, {centre.x(), centre.y(), z}) == 3, k >= 10 && k < 30 && k % 2 == 0) << k;
    }
}

TEST_F(RTStructureToLabelMapTest, ChosenRoisBecomeLabelMapAndClosedMesh)
{
    RTStructureToLabelMap algorithm(phantom->structures, phantom->volume);
    algorithm.roiNumbers = std::vector<int>{1, 3};
    algorithm.outputType = RTStructureToLabelMap::OutputType::LabelMapAndMesh;
    algorithm.compute();
    ASSERT_EQ(algorithm.status(), Algorithm::Success);
    OwningDataList out = algorithm.takeOutput();
    SharedImageSet* labelMap = out.getImage();
    ASSERT_NE(labelMap, nullptr);
    const SharedImage& labels = *labelMap->get(0);
    EXPECT_EQ(count(labels, 2), 0u);
    EXPECT_GT(count(labels, 1), 0u);
    EXPECT_GT(count(labels, 3), 0u);
    EXPECT_TRUE(labels.voxelToWorld().isApprox(phantom->volume->get(0)->voxelToWorld()));

    const auto meshes = out.getAll(Data::KindMesh);
    ASSERT_EQ(meshes.size(), 1u);
    const Mesh& mesh = *static_cast<Mesh*>(meshes.front());
    ASSERT_TRUE(mesh.isValid());
    // A closed, outward-facing surface: its signed volume is close to the filled voxels'.
    double volume = 0.0;
    for (const Eigen::Vector3i& t : mesh.triangles())
        volume += mesh.vertices()[std::size_t(t[0])].dot(
                      mesh.vertices()[std::size_t(t[1])].cross(mesh.vertices()[std::size_t(t[2])])) /
                  6.0;
    const double voxels = static_cast<double>(count(labels, 1) + count(labels, 3)) * 2.0;
    EXPECT_NEAR(volume, voxels, 0.1 * voxels);
    EXPECT_TRUE(mesh.bounds()->contains(Eigen::Vector3d(-35, -35, 0)));
}

TEST_F(RTStructureToLabelMapTest, RoiNumbersThatCannotBeLabelsGetFreeOnesWithoutCollision)
{
    // The sphere, the box and the cylinder (apart from each other) under these ROI numbers.
    struct Case
    {
        std::array<int, 3> numbers;
        std::array<int, 3> labels;
    };
    const Case cases[] = {
        {{0, 1, 70000}, {2, 1, 3}},
        {{-5, 65535, 65536}, {1, 65535, 2}},
        {{4, 4, 1}, {4, 2, 1}},  // a number met twice belongs to the first
    };
    std::array<std::size_t, 3> alone{};
    for (int roi = 1; roi <= 3; ++roi)
        alone[std::size_t(roi - 1)] = count(*labelsOf(roi), roi);
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<PointCloud>> clouds;
        for (int roi = 1; roi <= 3; ++roi)
            clouds.push_back(roiCloud(c.numbers[std::size_t(roi - 1)], roi));
        std::vector<RTStructureToLabelMap::RoiOutcome> outcomes;
        const auto labels = RTStructureToLabelMap::rasterize({clouds[0].get(), clouds[1].get(), clouds[2].get()},
                                                             *phantom->volume->get(0), &outcomes);
        ASSERT_NE(labels, nullptr);
        ASSERT_EQ(outcomes.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(count(*labels, c.labels[i]), alone[i]) << c.numbers[i];
            EXPECT_EQ(outcomes[i].label, c.labels[i]) << c.numbers[i];
            EXPECT_EQ(outcomes[i].voxels, alone[i]) << c.numbers[i];
        }
    }
}

TEST_F(RTStructureToLabelMapTest, RoisThatPutNoVoxelSayWhy)
{
    const auto square = [](double z, double half) {
        return Contour({{-half, -half, z}, {half, -half, z}, {half, half, z}, {-half, half, z}}, "CLOSED_PLANAR");
    };
    struct Case
    {
        std::vector<Contour> contours;
        bool fillable;
        const char* why;
    };
    const Case cases[] = {
        {{Contour({{0, 0, 0}}, "POINT")}, false, "its contours are POINT;"},
        {{Contour({{0, 0, 1}, {9, 0, 1}, {9, 9, 1}}, "OPEN_PLANAR"), Contour({{0, 0, 0}}, "POINT")},
         false,
         "its contours are OPEN_PLANAR, POINT;"},
        {{}, false, "it has no contours"},
        {{square(500, 10)}, true, "outside the reference volume"},
        {{square(1, 0.2)}, true, "no voxel centre"},  // between the voxel centres at +-0.5 mm
        // Coordinates that no integer holds (the fill once converted them: undefined, a crash).
        {{Contour({{1e308, 0, 1}, {0, 5, 1}, {1e308, 10, 1}}, "CLOSED_PLANAR")}, true, "outside the reference"},
        {{Contour({{-kInf, 0, 1}, {5, -kInf, 1}, {5, 5, 1}}, "CLOSED_PLANAR")}, true, "outside the reference"},
        {{}, true, "later in the input cover it"},  // the sphere, then the sphere again
    };
    const std::size_t later = std::size(cases) - 1;
    std::vector<std::unique_ptr<PointCloud>> clouds;
    for (const Case& c : cases)
        clouds.push_back(clouds.size() == later ? roiCloud(int(later) + 1, 1)
                                                : roiCloud(int(clouds.size()) + 1, 0, c.contours));
    clouds.push_back(roiCloud(int(later) + 2, 1));
    std::vector<const PointCloud*> input;
    for (const auto& cloud : clouds)
        input.push_back(cloud.get());
    std::vector<RTStructureToLabelMap::RoiOutcome> outcomes;
    ASSERT_NE(RTStructureToLabelMap::rasterize(input, *phantom->volume->get(0), &outcomes), nullptr);
    ASSERT_EQ(outcomes.size(), later + 2);
    for (std::size_t i = 0; i <= later; ++i) {
        EXPECT_EQ(outcomes[i].voxels, 0u) << i;
        EXPECT_EQ(outcomes[i].fillable, cases[i].fillable) << i;
        EXPECT_NE(outcomes[i].whyEmpty.find(cases[i].why), std::string::npos) << outcomes[i].whyEmpty;
    }
    EXPECT_EQ(outcomes[later + 1].voxels, count(*labelsOf(1), 1));
    EXPECT_TRUE(outcomes[later + 1].whyEmpty.empty());
}

TEST_F(RTStructureToLabelMapTest, MissingReferenceOrUnknownRoiIsInvalidInput)
{
    RTStructureToLabelMap noReference(phantom->structures);
    noReference.compute();
    EXPECT_EQ(noReference.status(), Algorithm::InvalidInput);
    RTStructureToLabelMap unknownRoi(phantom->structures, phantom->volume);
    unknownRoi.roiNumbers = std::vector<int>{99};
    unknownRoi.compute();
    EXPECT_EQ(unknownRoi.status(), Algorithm::InvalidInput);
    EXPECT_TRUE(unknownRoi.takeOutput().empty());
}

}  // namespace
