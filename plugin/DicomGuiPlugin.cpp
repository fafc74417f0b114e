#include "plugin/DicomGuiPlugin.h"

#include "browser/widgets/SettingsWidget.h"
#include "host/app/AnnotationFactory.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/plugin/PluginAutoRegistrationGuard.h"
#include "host/ui/SettingsDialog.h"
#include "plugin/DicomAlgorithmControllerFactory.h"
#include "plugin/DicomGuiAlgorithmFactory.h"

namespace Dravelin {

DicomGuiPlugin::~DicomGuiPlugin() = default;

QString DicomGuiPlugin::author() const
{
    return QStringLiteral("Dravelin GmbH");
}

QString DicomGuiPlugin::description() const
{
    return QStringLiteral("Plugin for handling DICOM data");
}

QStringList DicomGuiPlugin::dependencies() const
{
    return {QStringLiteral("Dravelin.Dicom")};
}

const char* DicomGuiPlugin::id()
{
    return "Dravelin.DicomGui";
}

int DicomGuiPlugin::init()
{
    // A page registered before under the same key (a reload) gets this generator.
    SettingsDialog::addCustomSettingsWidget<DicomPluginSettings, Dicom::SettingsWidget>(
        Flags<Dicom::SettingsWidget::Contents>(0xFF), static_cast<QWidget*>(nullptr));
    // The constructors register; should one throw, the unique pointers free what exists.
    auto controllers = std::make_unique<DicomAlgorithmControllerFactory>();
    auto algorithms = std::make_unique<DicomGuiAlgorithmFactory>();
    registerFactories(std::move(algorithms), std::move(controllers), nullptr);
    return 0;
}

}  // namespace Dravelin

// Announces the plug-in while its library is loaded.
Dravelin::PluginAutoRegistrationGuard g_dravelinPluginLoaderGuard(&Dravelin::DicomGuiPlugin::id);

extern "C" {

__attribute__((visibility("default"))) Dravelin::PluginBase* dravelinCreatePlugin()
{
    return new Dravelin::DicomGuiPlugin;
}

__attribute__((visibility("default"))) const char* dravelinPluginId()
{
    return "Dravelin.DicomGui";
}

__attribute__((visibility("default"))) const char* dravelinPluginDescriptor =
    "__DRAVELIN_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5.0|buildflags=GLIBCXX_DEBUG:_GLIBCXX_DEBUG|pluginversion=";
}
