#pragma once

#include "host/ui/SettingsDialog.h"

#include "host/core/Flags.h"

class QLabel;
class QPushButton;

namespace Dravelin {

class Properties;
class PropertiesListWidget;
class PropertiesWidget;

namespace Dicom {

// The DICOM page of the settings dialog: the general DICOM parameters and the PACS servers the
// browser offers. The content flags choose which groups it edits; the browser's PACS dialog
// shows the servers only.
class SettingsWidget : public SettingsDialog::CustomSettingsWidget
{
    Q_OBJECT

public:
    enum Contents : int {
        Loading = 1,
        Display = 2,
        Export = 4,
        PacsServers = 8,  // the server list and our own PACS client parameters
        All = 0xFF,
    };

    explicit SettingsWidget(Flags<Contents> contents, QWidget* parent = nullptr);
    ~SettingsWidget() override;

    QString title() const override;

    // Edits the stored settings.
    void loadSettings();
    // Stores what the page holds.
    void saveSettings();

    void configure(const Properties* p) override;
    void configuration(Properties* p) const override;
    // Removes from `p` what this page does not edit.
    void filterSettings(Properties& p) const;

    // Sends a C-ECHO to the server being edited (with the stored own AE title and timeouts), off
    // the GUI thread; one line under the list then says whether it answered, and why not.
    void testServer();

private:
    Flags<Contents> m_contents;
    PropertiesWidget* m_general = nullptr;
    QLabel* m_serversLabel = nullptr;
    PropertiesListWidget* m_servers = nullptr;
    QPushButton* m_test = nullptr;
    QLabel* m_testResult = nullptr;
};

}  // namespace Dicom
}  // namespace Dravelin
