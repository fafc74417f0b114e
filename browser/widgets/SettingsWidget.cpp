#include "browser/widgets/SettingsWidget.h"

#include "host/app/GlobalSettings.h"
#include "host/properties/Properties.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/ui/PropertiesListWidget.h"
#include "host/ui/PropertiesWidget.h"

#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

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
    auto* testRow = new QHBoxLayout;
    m_test = new QPushButton(tr("Test"), this);
    m_test->setObjectName(QStringLiteral("testPacsServer"));
    m_test->setToolTip(tr("Asks the selected server whether it answers (C-ECHO)"));
    m_testResult = new QLabel(this);
    m_testResult->setObjectName(QStringLiteral("pacsTestResult"));
    m_testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    testRow->addWidget(m_test);
    testRow->addWidget(m_testResult, 1);
    layout->addLayout(testRow);
    connect(m_test, &QPushButton::clicked, this, &SettingsWidget::testServer);
    for (QWidget* w : std::initializer_list<QWidget*>{m_servers, m_serversLabel, m_test, m_testResult})
        w->setVisible(m_contents.testFlag(PacsServers));
}

void SettingsWidget::testServer()
{
    const PropertiesWidget* editor = m_servers->entryEditor();
    if (m_servers->currentIndex() < 0 || !editor) {
        m_testResult->setText(tr("Select a server to test."));
        return;
    }
    DicomPluginSettings::PacsServer server;
    server.hostname = editor->value(QStringLiteral("pacsServerHostname")).toString().toStdString();
    server.port = editor->value(QStringLiteral("pacsServerPort")).toInt();
    server.aeTitle = editor->value(QStringLiteral("pacsServerAe")).toString().toStdString();
    const DicomPacsConfiguration config = DicomPluginSettings().connectionConfiguration(server);
    const QString who = QStringLiteral("%1 at %2:%3")
                            .arg(QString::fromStdString(server.aeTitle), QString::fromStdString(server.hostname))
                            .arg(server.port);
    m_test->setEnabled(false);
    m_testResult->setText(tr("Testing %1...").arg(who));
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, who] {
        const QString reason = watcher->result();
        m_testResult->setText(reason.isEmpty() ? tr("%1 answered.").arg(who)
                                               : tr("%1 did not answer: %2").arg(who, reason));
        m_test->setEnabled(true);
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run([config] {
        DicomPacsCommunication pacs(config);
        std::string reason;
        pacs.setErrorHandler([&reason](const Error& error) {
            if (reason.empty())
                reason = error.message;
        });
        if (pacs.sendEchoRequest())
            return QString();
        return reason.empty() ? QStringLiteral("no reason given") : QString::fromStdString(reason);
    }));
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
