#include "browser/widgets/SettingsWidget.h"
#include "browser/widgets/ShowDicomTags.h"
#include "editor/DicomEditor.h"
#include "editor/DicomEditorAlgorithm.h"
#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/app/FactoryRegistry.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/dicom/io/DicomIOAlgorithmBrowser.h"
#include "host/dicom/io/DicomIOAlgorithmFolder.h"
#include "host/plugin/PluginAutoRegistrationGuard.h"
#include "host/plugin/PluginDescriptor.h"
#include "plugin/DicomAlgorithmControllerFactory.h"
#include "plugin/DicomGuiAlgorithmFactory.h"
#include "plugin/DicomGuiPlugin.h"
#include "plugin/DicomIoController.h"
#include "rt/RTStructureToLabelMapController.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace Dravelin;

extern "C" {
PluginBase* dravelinCreatePlugin();
const char* dravelinPluginId();
extern const char* dravelinPluginDescriptor;
}

namespace {

struct Unrelated : Algorithm
{
    void compute() override {}
};

}  // namespace

// Each algorithm type gets its own interface; anything else, and nothing, gets none.
TEST(DicomAlgorithmControllerFactory, CreatesTheControllerOfEachAlgorithmType)
{
    DicomAlgorithmControllerFactory factory;
    struct Case
    {
        std::function<Algorithm*()> make;
        std::function<bool(AlgorithmController*)> expected;
    };
    const Case cases[] = {
        {[] { return new DicomIOAlgorithmFolder(DicomIoAlgorithm::Reading); },
         [](AlgorithmController* c) { return dynamic_cast<DicomIoController*>(c) != nullptr; }},
        {[] { return new DicomIOAlgorithmBrowser(DicomIoAlgorithm::Reading); },
         [](AlgorithmController* c) { return dynamic_cast<DicomIoController*>(c) != nullptr; }},
        {[] { return new DicomIoAlgorithm(DicomIoAlgorithm::Writing); },
         [](AlgorithmController* c) { return dynamic_cast<DicomIoController*>(c) != nullptr; }},
        {[] { return new ShowDicomTags(nullptr); },
         [](AlgorithmController* c) { return dynamic_cast<ShowDicomTagsController*>(c) != nullptr; }},
        {[] { return new DicomEditorAlgorithm; },
         [](AlgorithmController* c) {
             auto* editor = dynamic_cast<DicomEditor*>(c);
             return editor && !editor->parentWidget();
         }},
        {[] { return new RTStructureToLabelMap({}); },
         [](AlgorithmController* c) { return dynamic_cast<RTStructureToLabelMapController*>(c) != nullptr; }},
        {[] { return new Unrelated; }, [](AlgorithmController* c) { return c == nullptr; }},
        {[]() -> Algorithm* { return nullptr; }, [](AlgorithmController* c) { return c == nullptr; }},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::unique_ptr<Algorithm> algorithm(cases[i].make());
        std::unique_ptr<AlgorithmController> controller(factory.create(algorithm.get()));
        EXPECT_TRUE(cases[i].expected(controller.get())) << "case " << i;
    }
}

TEST(DicomGuiAlgorithmFactory, OffersTheEditorOnlyWithNothingSelected)
{
    DicomGuiAlgorithmFactory factory;
    EXPECT_TRUE(factory.addAlgorithmFactoryToFront());
    SharedImageSet image;
    EXPECT_TRUE(factory.instantiateAlgorithm(QStringLiteral("DICOM.DicomEditor"), DataList()));
    EXPECT_FALSE(factory.instantiateAlgorithm(QStringLiteral("DICOM.DicomEditor"), DataList{&image}));
    // An image set without DICOM tags is no input for the tag viewer.
    EXPECT_FALSE(factory.instantiateAlgorithm(QStringLiteral("DICOM.ShowDicomTags"), DataList{&image}));
}

// A second factory finds both names listed already (by the first one, in the global registry)
// and registers nothing; the first one keeps both.
TEST(DicomAlgorithmControllerFactory, DuplicateDataControllersLeaveEveryFactoryUnchanged)
{
    FactoryRegistry& global = FactoryRegistry::global();
    auto first = std::make_unique<DicomAlgorithmControllerFactory>();
    const QStringList names = first->dataControllerNames();
    EXPECT_EQ(names, (QStringList{"DICOM;OverlayAnnotationDataController", "DICOM;RTStructureDataController"}));
    AlgorithmControllerFactory* firstPtr = first.get();
    global.addControllerFactory(std::move(first), QStringLiteral("test.first"));
    DicomAlgorithmControllerFactory second;
    EXPECT_TRUE(second.dataControllerNames().isEmpty());
    EXPECT_EQ(firstPtr->dataControllerNames(), names);
    global.removeFactoriesOf(QStringLiteral("test.first"));
}

// init() registers into the plug-in's registry and replaces a page registered before under the
// same key with the DICOM page showing everything.
TEST(DicomGuiPlugin, InitRegistersFactoriesAndOneSettingsPage)
{
    const QString key = QStringLiteral("Dravelin::DicomPluginSettings");
    ASSERT_EQ(GlobalSettings::settingsName<DicomPluginSettings>(), key);
    SettingsDialog::addCustomSettingsWidget(key, [] { return new SettingsDialog::CustomSettingsWidget; });
    const size_t pages = SettingsDialog::m_customSettingsWidgetGenerators.size();

    FactoryRegistry registry;
    std::unique_ptr<PluginBase> plugin(dravelinCreatePlugin());
    auto* lib = dynamic_cast<DravelinLibPlugin*>(plugin.get());
    ASSERT_TRUE(lib);
    lib->setFactoryRegistry(&registry);
    EXPECT_EQ(plugin->dependencies(), QStringList{"Dravelin.Dicom"});
    ASSERT_EQ(plugin->init(), 0);
    EXPECT_EQ(SettingsDialog::m_customSettingsWidgetGenerators.size(), pages);
    std::unique_ptr<SettingsDialog::CustomSettingsWidget> page(SettingsDialog::m_customSettingsWidgetGenerators[key]());
    auto* dicomPage = dynamic_cast<Dicom::SettingsWidget*>(page.get());
    ASSERT_TRUE(dicomPage);
    EXPECT_FALSE(dicomPage->parentWidget());

    QStringList ids;
    for (const AlgorithmDescriptor* d : registry.algorithmDescriptors())
        ids << d->id;
    EXPECT_EQ(ids, (QStringList{"DICOM.ShowDicomTags", "DICOM.DicomEditor"}));
    ASSERT_EQ(registry.controllerFactories().size(), 1u);
    EXPECT_EQ(registry.controllerFactories()[0]->dataControllerNames().size(), 2);
    registry.clear();
    SettingsDialog::removeCustomSettingsWidget(key);
}

TEST(DicomGuiPlugin, EntryPointsAgreeAndTheHostAcceptsTheDescriptor)
{
    EXPECT_STREQ(dravelinPluginId(), DicomGuiPlugin::id());
    EXPECT_STREQ(dravelinPluginId(), "Dravelin.DicomGui");
    EXPECT_TRUE(PluginAutoRegistrationGuard::announcedIds().contains("Dravelin.DicomGui"));
    EXPECT_EQ(PluginDescriptor::parse(QString::fromLatin1(dravelinPluginDescriptor)).incompatibility(), QString());
    EXPECT_TRUE(QByteArray(dravelinPluginDescriptor).endsWith("|pluginversion="));
}
