#include "host/data/DataGroup.h"
#include "host/data/DataList.h"
#include "host/data/DataSourceComponent.h"
#include "host/data/Geometry.h"
#include "host/data/Mesh.h"
#include "host/data/OwningDataList.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "tests/support/DataFixtures.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Dravelin;

namespace {

// A component that refuses to be copied, like one holding a view's GPU buffers.
struct ViewOnlyComponent : DataComponent
{
    QString id() const override { return "ViewOnly"; }
    std::unique_ptr<DataComponent> clone() const override { return nullptr; }
};

std::unique_ptr<SharedImageSet> makeSeries()
{
    auto set = std::make_unique<SharedImageSet>();
    for (int i = 0; i < 2; ++i) {
        auto image = std::make_unique<SharedImage>(PixelType::Int16, 4, 3, 2);
        image->setValue(1, 2, 1, 0, -100 * (i + 1));
        image->setRescale(2.0, -1024.0);
        image->setSpacing({0.5, 0.5, 2.0});
        image->setImageToWorld(Eigen::Translation3d(10, 20, 30) * Eigen::Affine3d::Identity());
        set->add(std::move(image));
    }
    set->setName("CT");
    set->setModality(Data::ModalityCT);
    set->setWindow(40, 400);
    set->ensureProperties().setParam("filename", "/data/ct");
    set->addComponent(std::make_unique<DataSourceComponent>(
        std::vector<DataSourceComponent::Source>{{"/data/ct", "DICOM folder reader"}}));
    set->addComponent(std::make_unique<ViewOnlyComponent>());
    return set;
}

}  // namespace

TEST(SharedImageSetTest, CloneCopiesEverythingDeeplyAndDropsViewOnlyComponents)
{
    auto original = makeSeries();
    auto copy = original->clone();

    ASSERT_EQ(copy->size(), 2);
    EXPECT_EQ(copy->name(), "CT");
    EXPECT_EQ(copy->modality(), Data::ModalityCT);
    EXPECT_EQ(copy->windowWidth(), 400);
    EXPECT_EQ(copy->get(1)->realValue(1, 2, 1), -200 * 2.0 - 1024.0);
    EXPECT_TRUE(copy->get(0)->imageToWorld().isApprox(original->get(0)->imageToWorld()));
    EXPECT_EQ(copy->get(0)->spacing(), original->get(0)->spacing());
    ASSERT_NE(copy->getComponent<DataSourceComponent>(), nullptr);
    EXPECT_NE(copy->getComponent<DataSourceComponent>(), original->getComponent<DataSourceComponent>());
    EXPECT_TRUE(copy->getComponent<DataSourceComponent>()->allReadersContain("DICOM"));
    EXPECT_EQ(copy->getComponent<ViewOnlyComponent>(), nullptr);

    // Changing the copy leaves the original untouched.
    copy->get(0)->setValue(1, 2, 1, 0, 7);
    copy->properties()->setParam("filename", "/elsewhere");
    copy->getComponent<DataSourceComponent>()->addSource("/x", "raw reader");
    EXPECT_EQ(original->get(0)->value(1, 2, 1), -100);
    EXPECT_EQ(original->properties()->param("filename").toString(), "/data/ct");
    EXPECT_TRUE(original->getComponent<DataSourceComponent>()->allReadersContain("DICOM"));

    // Groups copy their children the same way.
    DataGroup group;
    group.add(std::move(original));
    auto groupCopy = group.clone();
    ASSERT_EQ(groupCopy->size(), 1);
    EXPECT_NE(groupCopy->child(0), group.child(0));
    EXPECT_EQ(groupCopy->child(0)->parentGroup(), groupCopy.get());
}

struct VoxelCase
{
    PixelType type;
    double written;
    double readBack;
};

using SharedImageVoxelTest = ::testing::TestWithParam<VoxelCase>;

TEST_P(SharedImageVoxelTest, StoresValuesInItsTypeAndClampsOutOfRange)
{
    const VoxelCase c = GetParam();
    SharedImage image(c.type, 3, 2);
    image.setValue(2, 1, 0, image.channels() - 1, c.written);
    EXPECT_EQ(image.value(2, 1, 0, image.channels() - 1), c.readBack);
    EXPECT_EQ(image.byteSize(), 6 * bytesPerVoxel(c.type));
    const auto [lo, hi] = image.minMax();
    EXPECT_EQ(lo, std::min(0.0, c.readBack));
    EXPECT_EQ(hi, std::max(0.0, c.readBack));
    // Typed access only for the image's own channel type.
    EXPECT_EQ(image.typedData<float>() != nullptr, c.type == PixelType::Float);
    EXPECT_EQ(image.typedData<std::int16_t>() != nullptr, c.type == PixelType::Int16);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, SharedImageVoxelTest,
                         ::testing::Values(VoxelCase{PixelType::UInt8, 300, 255}, VoxelCase{PixelType::UInt8, -5, 0},
                                           VoxelCase{PixelType::Int16, -40000, -32768},
                                           VoxelCase{PixelType::UInt16, 65535, 65535},
                                           VoxelCase{PixelType::Int32, -70000, -70000},
                                           VoxelCase{PixelType::Float, 0.25, 0.25},
                                           VoxelCase{PixelType::RGB, 128, 128}));

TEST(SharedImageTest, GeometryMapsVoxelsThroughSpacingAndOrientation)
{
    SharedImage image(PixelType::UInt8, 10, 20, 5);
    image.setSpacing({0.5, 2.0, 3.0});
    // Rows run along world y, columns along world -x, slices along z.
    Eigen::Affine3d m = Eigen::Translation3d(100, 0, -50) * Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitZ());
    image.setImageToWorld(m);

    EXPECT_TRUE((image.voxelToWorld() * Eigen::Vector3d(2, 0, 0)).isApprox(Eigen::Vector3d(100, 1, -50)));
    EXPECT_TRUE((image.voxelToWorld() * Eigen::Vector3d(0, 1, 1)).isApprox(Eigen::Vector3d(98, 0, -47)));
    EXPECT_TRUE((image.worldToVoxel() * Eigen::Vector3d(98, 0, -47)).isApprox(Eigen::Vector3d(0, 1, 1)));
    const Eigen::AlignedBox3d box = image.worldBounds();
    EXPECT_NEAR(box.sizes().x(), 40.0, 1e-9);  // 20 rows of 2 mm
    EXPECT_NEAR(box.sizes().y(), 5.0, 1e-9);   // 10 columns of 0.5 mm
    EXPECT_NEAR(box.sizes().z(), 15.0, 1e-9);
}

TEST(DataListTest, KindsAndQueriesFollowContent)
{
    auto image = Dravelin::Test::imageSet(PixelType::UInt8, 8, 8);
    image->setModality(Data::ModalityXRay);
    auto volume = Dravelin::Test::imageSet(PixelType::Int16, 8, 8, 4);
    volume->setModality(Data::ModalityCT);
    auto series = makeSeries();
    auto mesh = std::make_unique<Mesh>(std::vector<Eigen::Vector3d>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                                       std::vector<Eigen::Vector3i>{{0, 1, 2}});
    auto cloud = std::make_unique<PointCloud>(std::vector<Eigen::Vector3d>{{1, 2, 3}});

    EXPECT_EQ(image->kind(), 1);
    EXPECT_EQ(volume->kind(), 2);
    EXPECT_EQ(series->kind(), 3);
    EXPECT_EQ(series->take(1)->dimensions(), Eigen::Vector3i(4, 3, 2));
    EXPECT_EQ(series->kind(), 2);  // one volume left

    OwningDataList owned;
    Data* meshPtr = owned.add(std::move(mesh));
    Data* imagePtr = owned.add(std::move(image));
    Data* volumePtr = owned.add(std::move(volume));
    Data* seriesPtr = owned.add(std::move(series));
    owned.add(std::move(cloud));

    const DataList list = owned.list();
    EXPECT_EQ(list.getImage(), imagePtr);
    EXPECT_EQ(list.getImage(Data::KindVolume), volumePtr);
    EXPECT_EQ(list.getImage(Data::KindVolume, Data::ModalityCT), volumePtr);
    EXPECT_EQ(list.getImage(Data::KindImage, Data::ModalityCT), nullptr);
    EXPECT_EQ(list.getImages(0, Data::ModalityCT),
              (std::vector<SharedImageSet*>{static_cast<SharedImageSet*>(volumePtr),
                                            static_cast<SharedImageSet*>(seriesPtr)}));
    EXPECT_EQ(list.getAll().size(), 5u);
    EXPECT_EQ(list.getAll(Data::KindMesh), std::vector<Data*>{meshPtr});
    EXPECT_EQ(list.getPointClouds().size(), 1u);

    std::unique_ptr<Data> taken = owned.take(meshPtr);
    EXPECT_EQ(taken.get(), meshPtr);
    EXPECT_EQ(owned.size(), 4u);
    EXPECT_EQ(owned.take(meshPtr), nullptr);
}

TEST(MeshTest, NormalsPointOutOfCounterClockwiseFacesAndBadIndicesAreRejected)
{
    Mesh mesh({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0, 0, 2}}, {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}});
    ASSERT_TRUE(mesh.isValid());
    mesh.computeNormals();
    // The apex at the origin sees three faces pointing along -x, -y, -z.
    EXPECT_TRUE(mesh.normals()[0].isApprox(Eigen::Vector3d(-1, -1, -1).normalized()));
    EXPECT_NEAR(mesh.area(), 3 * 2.0 + 2.0 * std::sqrt(3.0), 1e-9);

    mesh.triangles().push_back({0, 1, 4});
    EXPECT_FALSE(mesh.isValid());
}

TEST(GeometryTest, FitsTiltedContoursAndRefusesLines)
{
    // A closed contour on the plane z = x, with a little noise.
    std::vector<Eigen::Vector3d> contour;
    for (int i = 0; i < 12; ++i) {
        const double a = i * M_PI / 6, x = 10 + 5 * std::cos(a), y = 5 * std::sin(a);
        contour.push_back({x, y, x + (i % 2 ? 0.01 : -0.01)});
    }
    const auto plane = Geometry::fitPlane(contour);
    ASSERT_TRUE(plane);
    EXPECT_NEAR(std::abs(plane->normal.dot(Eigen::Vector3d(-1, 0, 1).normalized())), 1.0, 1e-5);
    EXPECT_TRUE(plane->centre.isApprox(Eigen::Vector3d(10, 0, 10), 1e-6));
    EXPECT_LT(plane->rms, 0.01);

    EXPECT_FALSE(Geometry::fitPlane({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {5, 5, 5}}));
    EXPECT_FALSE(Geometry::fitPlane({{0, 0, 0}, {1, 0, 0}}));
}

// A closed contour on an axial plane cut by sagittal and coronal planes: the stretches of the
// cut line inside the contour, ordered, and nothing where the plane misses it.
TEST(GeometryTest, PlaneSectionsAreTheContoursInsideStretches)
{
    // A U open towards +y at z = 5: arms x in [0, 4] and [8, 12], base y in [0, 4], top y = 10.
    const std::vector<Eigen::Vector3d> u = {{0, 0, 5}, {12, 0, 5}, {12, 10, 5}, {8, 10, 5},
                                            {8, 4, 5}, {4, 4, 5},  {4, 10, 5},  {0, 10, 5}};
    using Segments = std::vector<std::pair<Eigen::Vector3d, Eigen::Vector3d>>;
    struct Case
    {
        Eigen::Vector3d normal;
        double offset;
        Segments expected;
    };
    const Case cases[] = {
        {{0, 1, 0}, 7, {{{0, 7, 5}, {4, 7, 5}}, {{8, 7, 5}, {12, 7, 5}}}},  // through both arms
        {{0, 1, 0}, 2, {{{0, 2, 5}, {12, 2, 5}}}},                          // through the base
        {{1, 0, 0}, 6, {{{6, 0, 5}, {6, 4, 5}}}},                           // the base below the gap
        {{1, 0, 0}, 2, {{{2, 0, 5}, {2, 10, 5}}}},                          // along an arm
        {{0, 1, 0}, 11, {}},                                                // beyond it
        {{0, 0, 1}, 5, {}},                                                 // its own plane
        {{0, 0, 1}, 6, {}},                                                 // a parallel one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "normal " << c.normal.transpose() << " offset " << c.offset);
        const auto found = Geometry::planeSections(u, c.normal, c.offset);
        ASSERT_EQ(found.size(), c.expected.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_TRUE(found[i].from.isApprox(c.expected[i].first, 1e-9)) << found[i].from.transpose();
            EXPECT_TRUE(found[i].to.isApprox(c.expected[i].second, 1e-9)) << found[i].to.transpose();
        }
    }
}
