#include "browser/widgets/SettingsWidget.h"

#include "host/app/GlobalSettings.h"
#include "host/properties/Properties.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/ui/PropertiesListWidget.h"
#include "host/ui/PropertiesWidget.h"

#include <QLabel>
#include <QVBoxLayout>

namespace Dravelin::Dicom {

namespace {

// A copy of `p` without its nested block `name` (Properties cannot remove a block in place).
Properties withoutBlock(const Properties& p, const QString& name)
{
    Properties copy(p.name());
    for (const Properties::Param& param : p.params()) {
        copy.addParam(param.name, param.value);
        for (auto it = param.attributes.begin(); it != param.attributes.end(); ++it)
            copy.setParamAttribute(param.name, it.key(), it.value());
    }
    for (const Properties* block : p.allSubProperties())
        if (block->name() != name)
            *copy.addSubProperties(block->name()) = *block;
    return copy;
}

}  // namespace

SettingsWidget::SettingsWidget(Flags<Contents> contents, QWidget* parent)
    : SettingsDialog::CustomSettingsWidget(parent), m_contents(contents)
{
    auto* layout = new QVBoxLayout(this);
    m_general = new PropertiesWidget(this);
    m_serversLabel = new QLabel(tr("PACS Servers"), this);
    m_servers = new PropertiesListWidget(DicomPluginSettings::pacsServerTemplate(), this);
    m_servers->setNamePrompt(tr("Add PACS Server"), tr("Name of the new PACS server:"));
    layout->addWidget(m_general);
    layout->addWidget(m_serversLabel);
    layout->addWidget(m_servers, 1);
    m_servers->setVisible(m_contents.testFlag(PacsServers));
    m_serversLabel->setVisible(m_contents.testFlag(PacsServers));
}

SettingsWidget::~SettingsWidget() = default;

QString SettingsWidget::title() const
{
    return tr("DICOM");
}

void SettingsWidget::loadSettings()
{
    const DicomPluginSettings settings;
    Properties p(settings.settingsName());
    settings.configuration(&p);
    configure(&p);
}

void SettingsWidget::saveSettings()
{
    Properties p(GlobalSettings::settingsName<DicomPluginSettings>());
    configuration(&p);
    // The settings object stores itself when configured.
    DicomPluginSettings().configure(&p);
}

void SettingsWidget::configure(const Properties* p)
{
    if (!p)
        return;
    Properties copy(*p);
    filterSettings(copy);
    const Properties general = withoutBlock(copy, DicomPluginSettings::PacsServersBlock);
    m_general->setProperties(&general);
    m_servers->setEntries(copy.subProperties(DicomPluginSettings::PacsServersBlock));
}

void SettingsWidget::configuration(Properties* p) const
{
    if (!p)
        return;
    // A page without the server list must not touch the stored servers.
    const bool servers = m_contents.testFlag(PacsServers);
    // The list is written whole, so servers deleted on this page must not survive in the store.
    if (servers)
        GlobalSettings::remove(GlobalSettings::settingsName<DicomPluginSettings>() + "/" +
                               DicomPluginSettings::PacsServersBlock);
    m_general->configuration(p);
    if (!servers)
        return;
    Properties* block = p->subProperties(DicomPluginSettings::PacsServersBlock);
    if (!block)
        block = p->addSubProperties(DicomPluginSettings::PacsServersBlock);
    block->clear();
    m_servers->configuration(block);
}

void SettingsWidget::filterSettings(Properties& p) const
{
    for (const auto group : {DicomPluginSettings::Loading, DicomPluginSettings::Display, DicomPluginSettings::Export})
        if (!m_contents.testFlag(static_cast<Contents>(group)))
            for (const QString& name : DicomPluginSettings::parameterNames(group))
                p.removeParam(name);
    if (m_contents.testFlag(PacsServers))
        return;
    for (const QString& name : DicomPluginSettings::parameterNames(DicomPluginSettings::Pacs))
        p.removeParam(name);
    p = withoutBlock(p, DicomPluginSettings::PacsServersBlock);
}

}  // namespace Dravelin::Dicom

#include "moc_SettingsWidget.cpp"
