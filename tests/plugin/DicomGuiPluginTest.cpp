#include "browser/widgets/SettingsWidget.h"
#include "browser/widgets/ShowDicomTags.h"
#include "editor/DicomEditor.h"
#include "editor/DicomEditorAlgorithm.h"
#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/app/FactoryRegistry.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/io/DicomIOAlgorithmFolder.h"
#include "host/plugin/PluginDescriptor.h"
#include "plugin/DicomAlgorithmControllerFactory.h"
#include "plugin/DicomGuiPlugin.h"
#include "plugin/DicomIoController.h"
#include "rt/RTStructureToLabelMapController.h"

#include <gtest/gtest.h>

using namespace Dravelin;

extern "C" PluginBase* dravelinCreatePlugin();
extern "C" const char* dravelinPluginId();
extern "C" const char* dravelinPluginDescriptor;

namespace {
struct Unrelated : Algorithm
{
    void compute() override {}
};
template <typename C, typename A>
bool controls(A* algorithm)
{
    std::unique_ptr<Algorithm> owned(algorithm);
    std::unique_ptr<AlgorithmController> c(DicomAlgorithmControllerFactory().create(algorithm));
    return std::is_same_v<C, void> ? !c : dynamic_cast<C*>(c.get()) != nullptr;
}
}  // namespace

TEST(DicomAlgorithmControllerFactory, CreatesTheControllerOfEachAlgorithmTypeAndNothingElse)
{
    EXPECT_TRUE(controls<DicomIoController>(new DicomIOAlgorithmFolder(DicomIoAlgorithm::Read)));
    EXPECT_TRUE(controls<DicomIoController>(new DicomIoAlgorithm(DicomIoAlgorithm::Write)));
    EXPECT_TRUE(controls<ShowDicomTagsController>(new ShowDicomTags(nullptr)));
    EXPECT_TRUE(controls<DicomEditor>(new DicomEditorAlgorithm));
    EXPECT_TRUE(controls<RTStructureToLabelMapController>(new RTStructureToLabelMap({})));
    EXPECT_TRUE(controls<void>(new Unrelated));
    EXPECT_TRUE(controls<void>(static_cast<Algorithm*>(nullptr)));
}

// A second factory finds both names listed by the first one in the global registry: nothing
// is registered, and the first one keeps both.
TEST(DicomAlgorithmControllerFactory, DuplicateDataControllersLeaveEveryFactoryUnchanged)
{
    auto first = std::make_unique<DicomAlgorithmControllerFactory>();
    const AlgorithmControllerFactory* kept = first.get();
    FactoryRegistry::global().addControllerFactory(std::move(first), "test.first");
    EXPECT_TRUE(DicomAlgorithmControllerFactory().dataControllerNames().isEmpty());
    EXPECT_EQ(kept->dataControllerNames(),
              (QStringList{"DICOM;OverlayAnnotationDataController", "DICOM;RTStructureDataController"}));
    FactoryRegistry::global().removeFactoriesOf("test.first");
}

// A page registered before under the same key is replaced by the DICOM page; the editor is
// offered only while nothing is selected; the host accepts the descriptor.
TEST(DicomGuiPlugin, InitRegistersOnePageAndBothAlgorithms)
{
    const QString key = "Dravelin::DicomPluginSettings";
    SettingsDialog::addCustomSettingsWidget(key, [] { return new SettingsDialog::CustomSettingsWidget; });
    const size_t pages = SettingsDialog::m_customSettingsWidgetGenerators.size();
    FactoryRegistry registry;
    std::unique_ptr<PluginBase> plugin(dravelinCreatePlugin());
    static_cast<DravelinLibPlugin*>(plugin.get())->setFactoryRegistry(&registry);
    ASSERT_EQ(plugin->init(), 0);
    EXPECT_EQ(SettingsDialog::m_customSettingsWidgetGenerators.size(), pages);
    std::unique_ptr<QWidget> page(SettingsDialog::m_customSettingsWidgetGenerators[key]());
    EXPECT_TRUE(dynamic_cast<Dicom::SettingsWidget*>(page.get()) && !page->parentWidget());
    SharedImageSet image;
    EXPECT_TRUE(registry.instantiateAlgorithm("DICOM.DicomEditor", DataList()));
    EXPECT_FALSE(registry.instantiateAlgorithm("DICOM.DicomEditor", DataList{&image}));
    EXPECT_EQ(registry.algorithmDescriptors()[0]->id, "DICOM.ShowDicomTags");
    EXPECT_STREQ(dravelinPluginId(), DicomGuiPlugin::id());
    EXPECT_TRUE(PluginDescriptor::parse(dravelinPluginDescriptor).incompatibility().isEmpty());
    registry.clear();
}
