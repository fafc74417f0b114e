#include "tools/gallery/HostPages.h"

#include "host/core/NestedProgress.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/ui/LabeledSlider.h"
#include "host/ui/PropertiesListWidget.h"
#include "host/ui/ProgressWidget.h"
#include "host/ui/PropertiesWidget.h"
#include "host/ui/SettingsDialog.h"
#include "host/ui/WidgetHelpers.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

using namespace Dravelin;

namespace {

// A DICOM settings page as a plug-in would build it: the general parameters above the
// server list.
class DemoDicomPage : public SettingsDialog::CustomSettingsWidget
{
public:
    DemoDicomPage()
    {
        setWindowTitle(QObject::tr("DICOM"));
        auto* layout = new QVBoxLayout(this);
        m_general = new PropertiesWidget(this);
        m_servers = new PropertiesListWidget(DicomPluginSettings::pacsServerTemplate(), this);
        layout->addWidget(m_general);
        layout->addWidget(new QLabel(QObject::tr("PACS Servers"), this));
        layout->addWidget(m_servers, 1);
    }
    void configure(const Properties* p) override
    {
        if (!p)
            return;
        // Everything but the server block goes to the general editor.
        const Properties* servers = p->subProperties(DicomPluginSettings::PacsServersBlock);
        Properties general(p->name());
        for (const Properties::Param& param : p->params()) {
            general.addParam(param.name, param.value);
            for (auto it = param.attributes.begin(); it != param.attributes.end(); ++it)
                general.setParamAttribute(param.name, it.key(), it.value());
        }
        m_general->setProperties(&general);
        m_servers->setEntries(servers);
    }
    void configuration(Properties* p) const override
    {
        if (!p)
            return;
        m_general->configuration(p);
        Properties* block = p->subProperties(DicomPluginSettings::PacsServersBlock);
        if (!block)
            block = p->addSubProperties(DicomPluginSettings::PacsServersBlock);
        block->clear();
        m_servers->configuration(block);
    }

private:
    PropertiesWidget* m_general;
    PropertiesListWidget* m_servers;
};

// Keeps the demo tasks running as long as the page lives.
class TaskHolder : public QObject
{
public:
    using QObject::QObject;
    std::unique_ptr<NestedProgress> nested;
    std::vector<std::unique_ptr<Progress::Task>> tasks;
};

}  // namespace

namespace HostPages {

QWidget* settingsDialog()
{
    DicomPluginSettings().setPacsServers({{"Main PACS", "pacs.hospital.local", 11112, "MAINPACS", false},
                                          {"Research archive", "10.1.2.3", 104, "ARCHIVE", true}});
    SettingsDialog::addCustomSettingsWidget<DicomPluginSettings, DemoDicomPage>();
    auto* dialog = new SettingsDialog;
    dialog->resize(900, 720);
    return dialog;
}

QWidget* icons()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    const char* names[] = {"Warning.png", "IconOptions.png", "ButtonClear.png", "ExpandClosed.png", "ExpandOpen.png"};
    const int sizes[] = {12, 16, 24, 32, 48, 64};
    int row = 0;
    for (const char* name : names) {
        const QIcon icon = QtHelpers::generateMultiSizeIcon(name);
        grid->addWidget(new QLabel(name), row, 0);
        int column = 1;
        for (int size : sizes) {
            auto* label = new QLabel;
            label->setPixmap(icon.pixmap(size, size));
            grid->addWidget(label, row, column++);
        }
        ++row;
    }
    auto* slider = new LabeledSlider(Qt::Horizontal, LabeledSlider::BothLabels);
    slider->setRange(1, 24);
    slider->setValue(7);
    slider->setFrontLabelFormat("Frame: {current} / {maximum}");
    grid->addWidget(slider, row++, 0, 1, 7);
    auto* details = new QGroupBox(QObject::tr("Details"));
    auto* detailsLayout = new QVBoxLayout(details);
    detailsLayout->addWidget(new QLabel(QObject::tr("A section opened by its title.")));
    QtHelpers::makeExpandable(details, true);
    grid->addWidget(details, row++, 0, 1, 7);
    page->resize(520, 420);
    return page;
}

QWidget* progress()
{
    auto* display = new ProgressWidget;
    auto* holder = new TaskHolder(display);
    holder->nested = std::make_unique<NestedProgress>(display, "RT structures");
    holder->tasks.push_back(std::make_unique<Progress::Task>(display, 0, "Scanning Folder..."));
    holder->tasks.push_back(std::make_unique<Progress::Task>(display, 240, "Converting Files..."));
    holder->tasks.back()->setStep(97);
    holder->tasks.push_back(std::make_unique<Progress::Task>(holder->nested.get(), 12, "Building meshes"));
    holder->tasks.back()->setStep(9);
    holder->tasks.push_back(std::make_unique<Progress::Task>(display, 3, "Writing index", false));
    holder->tasks.back()->setStep(1);
    holder->tasks[1]->cancel();
    display->refresh();
    display->resize(520, 170);
    return display;
}

}  // namespace HostPages
