#include "tools/gallery/ExportPages.h"

#include "browser/widgets/ShowDicomTags.h"
#include "browser/widgets/TagsWidget.h"
#include "host/app/DefaultControllerDecorator.h"
#include "host/data/DataModel.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "plugin/DicomIoControllerExportDialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

namespace ExportPages {

using namespace Dravelin;

namespace {

// What the pages show; kept for the whole run.
struct Scene
{
    DataModel model;
    std::vector<std::unique_ptr<DicomIoAlgorithm>> writers;
    std::vector<std::unique_ptr<Algorithm>> algorithms;
    std::vector<std::unique_ptr<Controller>> controllers;
};

Scene& scene()
{
    static Scene* s = new Scene;
    return *s;
}

SharedImageSet* read(const QString& file)
{
    DicomIoAlgorithm reader;
    reader.setLocation(file.toStdString());
    reader.compute();
    const std::vector<Data*> added = scene().model.add(reader.takeOutput());
    return added.empty() ? nullptr : dynamic_cast<SharedImageSet*>(added.front());
}

DicomIoControllerExportDialog* exportDialog(const QString& ctFile)
{
    SharedImageSet* input = read(ctFile);
    read(ctFile);  // a second image the export may refer to
    scene().writers.push_back(std::make_unique<DicomIoAlgorithm>(DicomIoAlgorithm::Writing));
    DicomIoAlgorithm& writer = *scene().writers.back();
    writer.setInput(input);
    auto* dialog = new DicomIoControllerExportDialog(writer, &scene().model);
    dialog->resize(560, 760);
    return dialog;
}

}  // namespace

QWidget* exportExtensions(const QString& ctFile)
{
    return exportDialog(ctFile);
}

QWidget* exportSettings(const QString& ctFile, bool tagsTab)
{
    DicomIoControllerExportDialog* dialog = exportDialog(ctFile);
    dialog->gotoPage2();
    dialog->findChild<QLineEdit*>("pathEdit")->setText("/home/user/export/ct.dcm");
    dialog->findChild<QComboBox*>("compressionComboBox")->setCurrentIndex(6);  // lossy: quality shown
    dialog->findChild<QTabWidget*>("infoTabWidget")->setCurrentIndex(tagsTab ? 1 : 0);
    return dialog;
}

QWidget* tagPanel(const QString& multiFrameFile, int frame)
{
    SharedImageSet* set = read(multiFrameFile);
    Algorithm* algorithm = nullptr;
    if (!set || !ShowDicomTags::createCompatible({set}, &algorithm))
        return new QWidget;
    scene().algorithms.emplace_back(algorithm);
    auto* controller = new ShowDicomTagsController(static_cast<ShowDicomTags*>(algorithm));
    scene().controllers.emplace_back(controller);
    auto* frameWidget = new DefaultControllerDecorator(controller);
    controller->init();
    frameWidget->setTitle("Show DICOM Tags");
    controller->tagsWidget()->setCurrentFrame(frame);
    frameWidget->resize(980, 640);
    return frameWidget;
}

}  // namespace ExportPages
