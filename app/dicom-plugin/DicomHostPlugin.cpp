// The host's DICOM plug-in, "Dravelin.Dicom": registers the DICOM readers and the writer of the
// host's DICOM library, so that the application (and the DICOM GUI plug-in, which depends on
// this one) finds them in the factory registry.
#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/app/AnnotationFactory.h"
#include "host/app/FactoryRegistry.h"
#include "host/dicom/annotations/RTStructureAnnotation.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/io/DicomIOAlgorithmBrowser.h"
#include "host/dicom/io/DicomIOAlgorithmFile.h"
#include "host/dicom/io/DicomIOAlgorithmFolder.h"
#include "host/plugin/DravelinLibPlugin.h"
#include "host/plugin/PluginAutoRegistrationGuard.h"
#include "host/plugin/PluginDescriptor.h"

namespace {

// The readers as the registry sees them: IO algorithms that read.
class DicomFileReader : public Dravelin::DicomIOAlgorithmFile
{
public:
    static constexpr int kIoMode = Dravelin::IoAlgorithm::Read;
    DicomFileReader() : DicomIOAlgorithmFile(Read) {}
};

class DicomFolderReader : public Dravelin::DicomIOAlgorithmFolder
{
public:
    static constexpr int kIoMode = Dravelin::IoAlgorithm::Read;
    DicomFolderReader() : DicomIOAlgorithmFolder(Read) {}
};

class DicomBrowserReader : public Dravelin::DicomIOAlgorithmBrowser
{
public:
    static constexpr int kIoMode = Dravelin::IoAlgorithm::Read;
    DicomBrowserReader() : DicomIOAlgorithmBrowser(Read) {}
};

// Writes one image set.
class DicomWriter : public Dravelin::DicomIoAlgorithm
{
public:
    static constexpr int kIoMode = Dravelin::IoAlgorithm::Write;
    DicomWriter() : DicomIoAlgorithm(Write) {}

    static bool createCompatible(const Dravelin::DataList& data, Dravelin::Algorithm** out)
    {
        auto* image = data.size() == 1 ? dynamic_cast<Dravelin::SharedImageSet*>(data[0]) : nullptr;
        if (!image || image->empty())
            return false;
        // The factory hands the data over as the writer's input.
        if (out)
            *out = new DicomWriter;
        return true;
    }
};

class DicomHostPlugin : public Dravelin::DravelinLibPlugin
{
public:
    static const char* id() { return "Dravelin.Dicom"; }

    QString author() const override { return QStringLiteral("Dravelin GmbH"); }
    QString description() const override { return QStringLiteral("DICOM readers and writer of the host"); }

    int init() override
    {
        auto factory = std::make_unique<Dravelin::AlgorithmFactory>(QStringLiteral("Dicom"));
        factory->registerAlgorithm<DicomFileReader>(QStringLiteral("DicomIOAlgorithmFile"),
                                                    QStringLiteral("DICOM File"), QStringLiteral("io: read"));
        factory->registerAlgorithm<DicomFolderReader>(QStringLiteral("DicomIOAlgorithmFolder"),
                                                      QStringLiteral("DICOM Folder"), QStringLiteral("io: read"));
        factory->registerAlgorithm<DicomBrowserReader>(QStringLiteral("DicomIOAlgorithmBrowser"),
                                                       QStringLiteral("DICOM Browser"), QStringLiteral("io: read"));
        factory->registerAlgorithm<DicomWriter>(QStringLiteral("DicomIoAlgorithm"), QStringLiteral("DICOM"),
                                                QStringLiteral("io: write"));
        // Offered while RT structures are selected; the DICOM GUI plug-in supplies its panel.
        factory->registerAlgorithm<Dravelin::RTStructureToLabelMap>(
            QStringLiteral("RTStructureToLabelMap"), QStringLiteral("RT Structures;Convert to Label Map"));
        // RT structures are drawn as their contours in their own colours, not as points.
        auto annotations = std::make_unique<Dravelin::AnnotationFactory>(QStringLiteral("Dicom"));
        annotations->registerDataAnnotation<Dravelin::Dicom::RTStructureAnnotation>(QStringLiteral("RT Structure"));
        registerFactories(std::move(factory), nullptr, std::move(annotations));
        return 0;
    }
};

Dravelin::PluginAutoRegistrationGuard g_dravelinPluginLoaderGuard(&DicomHostPlugin::id);

}  // namespace

extern "C" {
__attribute__((visibility("default"))) Dravelin::PluginBase* dravelinCreatePlugin()
{
    return new DicomHostPlugin;
}
__attribute__((visibility("default"))) const char* dravelinPluginId()
{
    return DicomHostPlugin::id();
}
__attribute__((visibility("default"))) const char* dravelinPluginDescriptor = DRAVELIN_PLUGIN_DESCRIPTOR("1.0");
}
