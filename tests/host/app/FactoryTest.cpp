#include "host/app/AlgorithmControllerFactory.h"
#include "host/app/AlgorithmFactory.h"
#include "host/app/ApplicationController.h"
#include "host/app/DefaultAlgorithmController.h"
#include "host/app/FactoryRegistry.h"
#include "host/app/IoController.h"
#include "host/core/LogCapture.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataModel.h"
#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestApplication.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace Dravelin;

namespace {

struct Plain : Algorithm
{
    Parameter<int> threshold{"threshold", 1, this};
    void compute() override {}
};

// Accepts exactly one image set, like a viewer of one series.
struct Picky : Algorithm
{
    static bool createCompatible(const DataList& data, Algorithm** out)
    {
        if (data.size() != 1 || !data.getImage())
            return false;
        if (out)
            *out = new Picky;
        return true;
    }
    void compute() override {}
};

struct Broken : Algorithm
{
    Broken() { throw std::runtime_error("no scanner attached"); }
    void compute() override {}
};

struct Reader : IoAlgorithm
{
    Reader() : IoAlgorithm(Read) { secret.setAttribute("hidden", "true"); }
    Parameter<bool> normalize{"normalize", true, this};
    Parameter<QString> secret{"secret", "x", this};
    // Reads "good*" locations as one image; anything else fails.
    void compute() override
    {
        setStatus(location().startsWith("good") ? Success : FileNotFound);
        if (status() == Success)
            m_output.add(std::make_unique<SharedImageSet>(std::make_unique<SharedImage>(PixelType::Int16, 4, 4)));
    }
    OwningDataList takeOutput() override { return std::move(m_output); }
    OwningDataList m_output;
};

struct FrontFactory : AlgorithmFactory
{
    using AlgorithmFactory::AlgorithmFactory;
    bool addAlgorithmFactoryToFront() const override { return true; }
};

struct CountingDataController : DataController
{
    static inline int instances = 0;
    CountingDataController() { ++instances; }
    ~CountingDataController() override { --instances; }
    static bool createCompatible(const DataList& data, DataController** out)
    {
        if (data.getPointClouds().empty())
            return false;
        if (out)
            *out = new CountingDataController;
        return true;
    }
};

struct PickyControllers : AlgorithmControllerFactory
{
    using AlgorithmControllerFactory::AlgorithmControllerFactory;
    AlgorithmController* create(Algorithm* a) const override
    {
        return dynamic_cast<Picky*>(a) ? new DefaultAlgorithmController(a) : nullptr;
    }
};

struct ThrowingControllers : AlgorithmControllerFactory
{
    AlgorithmController* create(Algorithm*) const override { throw std::runtime_error("factory down"); }
};

std::unique_ptr<SharedImageSet> image(const QString& name)
{
    return Test::imageSet(PixelType::UInt8, 2, 2, 1, name);
}

class RegistryTest : public ::testing::Test
{
protected:
    void SetUp() override { FactoryRegistry::global().clear(); }
    void TearDown() override { FactoryRegistry::global().clear(); }
    FactoryRegistry& registry = FactoryRegistry::global();
};

}  // namespace

TEST_F(RegistryTest, RegistrationPrefixesIdsKeepsTheFirstDuplicateAndConfiguresInstances)
{
    LogCapture log;
    auto factory = std::make_unique<AlgorithmFactory>("DICOM");
    Properties preset;
    preset.setParam("threshold", 7);
    EXPECT_TRUE(factory->registerAlgorithm<Plain>("Plain", "Tools;Plain Thing", QString(), &preset));
    EXPECT_FALSE(factory->registerAlgorithm<Picky>("Plain", "Other"));
    EXPECT_TRUE(log.contains("DICOM.Plain", 3));
    EXPECT_TRUE(factory->registerAlgorithm<Picky>("Picky", "Picky"));
    ASSERT_EQ(factory->algorithmDescriptors().size(), 2u);
    EXPECT_EQ(factory->algorithmDescriptor("DICOM.Plain")->name, "Tools;Plain Thing");

    auto ct = image("CT");
    const DataList none, one{ct.get()};
    // Without createCompatible an algorithm takes no input.
    EXPECT_EQ(factory->instantiateAlgorithm("Plain", one), nullptr);
    auto plain = factory->instantiateAlgorithm("DICOM.Plain", none);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->id(), "DICOM.Plain");
    EXPECT_EQ(plain->name(), "Plain Thing");
    EXPECT_EQ(static_cast<Plain*>(plain.get())->threshold.value(), 7);
    EXPECT_EQ(factory->idOf(*plain), "DICOM.Plain");

    EXPECT_EQ(factory->instantiateAlgorithm("Picky", none), nullptr);
    auto picky = factory->instantiateAlgorithm("Picky", one);
    ASSERT_NE(picky, nullptr);
    EXPECT_EQ(picky->input(), one);

    AlgorithmFactory unnamed;
    unnamed.registerAlgorithm<Plain>("Plain", "Plain");
    EXPECT_NE(unnamed.algorithmDescriptor("Plain"), nullptr);
}

TEST_F(RegistryTest, ThrowingConstructorsAreLoggedAndYieldNothing)
{
    LogCapture log;
    AlgorithmFactory factory("T");
    factory.registerAlgorithm<Broken>("Broken", "Tools;Broken Tool");
    EXPECT_EQ(factory.instantiateAlgorithm("T.Broken", {}), nullptr);
    EXPECT_TRUE(log.contains("Broken Tool", 4));
    EXPECT_TRUE(log.contains("no scanner attached", 4));
}

TEST_F(RegistryTest, FrontFactoriesComeFirstControllersFallBackAndOwnersUnregister)
{
    auto back = std::make_unique<AlgorithmFactory>("Back");
    back->registerAlgorithm<Plain>("Plain", "Plain");
    back->registerAlgorithm<Reader>("Reader", "Reader");
    auto front = std::make_unique<FrontFactory>("Front");
    front->registerAlgorithm<Plain>("Plain", "Plain");
    front->registerAlgorithm<Picky>("Picky", "Picky");
    registry.addAlgorithmFactory(std::move(back));
    registry.addAlgorithmFactory(std::move(front), "plugin.front");
    ASSERT_EQ(registry.algorithmFactories().front()->name(), "Front");
    auto compatible = registry.compatibleDescriptors({});
    ASSERT_EQ(compatible.size(), 2u);
    EXPECT_EQ(compatible[0]->id, "Front.Plain");
    EXPECT_EQ(compatible[1]->id, "Back.Plain");
    ASSERT_EQ(registry.compatibleIoDescriptors(IoAlgorithm::Read).size(), 1u);
    EXPECT_TRUE(registry.compatibleIoDescriptors(IoAlgorithm::Write).empty());

    LogCapture log;
    registry.addControllerFactory(std::make_unique<ThrowingControllers>());
    registry.addControllerFactory(std::make_unique<PickyControllers>("Picky"));
    auto ct = image("CT");
    auto picky = registry.instantiateAlgorithm("Front.Picky", {ct.get()});
    auto reader = registry.instantiateAlgorithm("Back.Reader");
    auto plain = registry.instantiateAlgorithm("Back.Plain");
    std::unique_ptr<AlgorithmController> forPicky(registry.createController(picky.get()));
    std::unique_ptr<AlgorithmController> forReader(registry.createController(reader.get()));
    std::unique_ptr<AlgorithmController> forPlain(registry.createController(plain.get(), false));
    EXPECT_NE(dynamic_cast<DefaultAlgorithmController*>(forPicky.get()), nullptr);
    EXPECT_NE(dynamic_cast<IoController*>(forReader.get()), nullptr);
    EXPECT_EQ(forPlain, nullptr);
    EXPECT_TRUE(log.contains("factory down", 4));

    // An unloaded plug-in's controllers must go with it: their code is gone.
    registry.addControllerFactory(std::make_unique<PickyControllers>("Front"), "plugin.front");
    registry.removeFactoriesOf("plugin.front");
    ASSERT_EQ(registry.algorithmFactories().size(), 1u);
    EXPECT_EQ(registry.instantiateAlgorithm("Front.Plain"), nullptr);
    EXPECT_EQ(registry.controllerFactories().size(), 2u);
}

TEST_F(RegistryTest, DataControllerNamesAreUniqueAcrossTheRegistryAndOnlyTheNamedOneIsBuilt)
{
    auto first = std::make_unique<AlgorithmControllerFactory>("DICOM");
    EXPECT_TRUE(first->registerDataController<CountingDataController>("DICOM;RTStructureDataController"));
    registry.addControllerFactory(std::move(first));
    AlgorithmControllerFactory second("Other");
    EXPECT_FALSE(second.registerDataController<CountingDataController>("Other; rtstructuredatacontroller "));
    EXPECT_FALSE(second.registerDataController<CountingDataController>("Other;RTStructureDataController"));
    EXPECT_TRUE(second.registerDataController<CountingDataController>("Other;Contours"));
    EXPECT_FALSE(second.registerDataController<CountingDataController>("Else;contours"));
    EXPECT_EQ(second.dataControllerNames(), QStringList{"Other;Contours"});

    PointCloud cloud;
    auto ct = image("CT");
    EXPECT_EQ(registry.compatibleDataControllers({&cloud}), QStringList{"DICOM;RTStructureDataController"});
    EXPECT_TRUE(registry.compatibleDataControllers({ct.get()}).isEmpty());
    // Compatibility tests build nothing.
    EXPECT_EQ(CountingDataController::instances, 0);
    std::unique_ptr<DataController> byParsedName(second.createDataController("Contours", {&cloud}));
    EXPECT_NE(byParsedName, nullptr);
    EXPECT_EQ(CountingDataController::instances, 1);
    EXPECT_EQ(registry.createDataController("DICOM;RTStructureDataController", {ct.get()}), nullptr);
    EXPECT_EQ(registry.createDataController("Contours", {&cloud}), nullptr);  // not in the registry
}

TEST(AlgorithmUtilsTest, ParsesMenuPaths)
{
    struct Case
    {
        QString name, last;
        QStringList path;
    };
    const Case cases[] = {{"Show DICOM Tags", "Show DICOM Tags", {}},
                          {"Tools;DICOM Editor", "DICOM Editor", {"Tools"}},
                          {" File ; Export ;; DICOM ", "DICOM", {"File", "Export"}},
                          {"Tools;", "Tools", {}},
                          {"", "", {}}};
    for (const Case& c : cases) {
        QStringList path;
        EXPECT_EQ(AlgorithmUtils::parseAlgorithmName(c.name, &path), c.last) << c.name.toStdString();
        EXPECT_EQ(path, c.path) << c.name.toStdString();
    }
}

TEST_F(RegistryTest, ControllerOutputGoesToTheModelsWithDataAnnotationsAndCloseIsReportedOnce)
{
    registry.addHostFactories();
    Dravelin::Test::TestApplication app;
    Data* ct = app.m_data.add(image("CT"));
    Plain algorithm;
    AlgorithmController controller(&algorithm);
    controller.setApplicationController(&app);
    Properties config;
    config.setParam("parentDataset", "CT");
    controller.configure(&config);

    OwningDataList output;
    Data* cloud = output.add(std::make_unique<PointCloud>(std::vector<Eigen::Vector3d>{{1, 2, 3}}));
    output.add(image("CT"));
    const std::vector<Data*> added = controller.addToDataAndAnnotationModels(std::move(output));
    ASSERT_EQ(added.size(), 2u);
    InteractiveObject* drawn = app.m_annotations.getDataAnnotation(cloud);
    ASSERT_NE(drawn, nullptr);
    EXPECT_EQ(app.m_annotations.getParentDataset(drawn), ct);
    EXPECT_EQ(app.m_annotations.size(), 1);

    controller.closeAlgorithm(true);
    controller.closeAlgorithm(false);
    EXPECT_EQ(app.closes, std::vector<bool>{true});
}

TEST(DefaultAlgorithmControllerTest, PanelEditsParametersWithinLimitsAndComputeAddsOutput)
{
    struct Smooth : Algorithm
    {
        Parameter<int> iterations{"iterations", 2, this};
        Parameter<QString> mode{"mode", "fast", this};
        Parameter<bool> keep{"keep", false, this};
        Parameter<QString> internal{"internal", "x", this};
        Smooth()
        {
            iterations.setAttribute("min", "1");
            iterations.setAttribute("max", "10");
            mode.setAttribute("values", "fast|exact");
            internal.setAttribute("hidden", "true");
        }
        void compute() override
        {
            setStatus(Success);
            m_output.add(std::make_unique<Mesh>());
        }
        OwningDataList takeOutput() override { return std::move(m_output); }
        OwningDataList m_output;
    } algorithm;
    Dravelin::Test::TestApplication app;
    DefaultAlgorithmController panel(&algorithm);
    panel.setApplicationController(&app);
    panel.init();

    auto* spin = panel.findChild<QSpinBox*>("iterations");
    auto* combo = panel.findChild<QComboBox*>("mode");
    auto* box = panel.findChild<QCheckBox*>("keep");
    ASSERT_TRUE(spin && combo && box);
    EXPECT_EQ(panel.findChild<QWidget*>("internal"), nullptr);
    spin->setValue(50);
    EXPECT_EQ(algorithm.iterations.value(), 10);
    algorithm.iterations = 3;
    EXPECT_EQ(spin->value(), 3);
    combo->setCurrentText("exact");
    EXPECT_EQ(algorithm.mode.value(), "exact");
    box->click();
    EXPECT_TRUE(algorithm.keep.value());
    algorithm.keep = false;
    EXPECT_FALSE(box->isChecked());

    panel.compute();
    EXPECT_EQ(app.m_data.getAll(Data::KindMesh).size(), 1u);
    EXPECT_EQ(app.finished, 1);
}

TEST(IoControllerTest, ReadsAGivenLocationIntoTheModelAndOffersOnlyVisibleOptions)
{
    Reader reader;
    const Properties options = reader.userOptions(true, false);
    EXPECT_TRUE(options.hasParam("normalize"));
    EXPECT_FALSE(options.hasParam("secret"));
    EXPECT_FALSE(options.hasParam("location"));
    EXPECT_TRUE(reader.userOptions(false, true).hasParam("secret"));

    for (const QString& location : {QString("good.raw"), QString("missing.raw")}) {
        Dravelin::Test::TestApplication app;
        app.m_withWindow = false;  // no error box to answer
        reader.setLocation(location);
        IoController controller(&reader);
        controller.setApplicationController(&app);
        controller.run();
        const bool good = location.startsWith("good");
        EXPECT_EQ(app.m_data.getAll().size(), good ? 1u : 0u);
        EXPECT_EQ(app.recentFiles, good ? QStringList{location} : QStringList{});
        EXPECT_EQ(app.closes, std::vector<bool>{true});
    }
}
