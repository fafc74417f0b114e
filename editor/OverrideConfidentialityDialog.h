#pragma once

#include "host/properties/Signal.h"
#include "host/dicom/deid/DeidentificationProfiles.h"

#include <QDialog>
#include <QString>

#include <memory>

class QComboBox;
class QTableWidget;
class Ui_OverrideConfidentialityDialog;

namespace Dravelin {

// Lets the user choose a confidentiality profile (the two presets or a profile file) and
// override the action of each tag. Accepting makes the table shown the current one, named
// "Custom Profile", and notifies signalProfileChanged; so do choosing a profile and exporting.
// Profile files are XML property files (ConfidentialityProfile::readFile / writeFile).
class OverrideConfidentialityDialog : public QDialog
{
    Q_OBJECT

public:
    // Starts from the profile `name` (a preset, else the file at `path`).
    OverrideConfidentialityDialog(const QString& name, const QString& path, QWidget* parent = nullptr);
    ~OverrideConfidentialityDialog() override;

    // Notified whenever the current profile (name, path or table) changed.
    Signal<> signalProfileChanged;

    // Makes `name` (a preset) or the file at `path` the current profile. A missing file falls
    // back to the Basic profile (logged "Invalid profile selection: "); an unreadable one
    // returns false and keeps the current table. A file is added to the profile selector.
    bool loadSettings(const QString& name, QString path);
    // Shows the current table: one row per tag, with its dictionary name and an action selector.
    void applySettingsToTable();
    // Asks for a file and a profile name and saves the table as shown.
    void exportSettings();
    void importSettings();
    // Makes the table as shown the current profile, "Custom Profile", and closes the dialog.
    void acceptProfile();

    const QString& currentName() const { return m_name; }
    const QString& currentPath() const { return m_path; }
    // What a de-identification records as its method: the profile's own name, also after
    // Accept renamed it "Custom Profile" (the name its file gives, else the file's base name).
    QString methodName() const;
    const Dicom::DeidentificationActionTable& actionTable() const { return m_actions; }

    // The action codes in the order every selector lists them, and their explanations (one
    // "CODE\texplanation" line per code).
    static const QStringList& actionCodes();
    static const QString& actionExplanation();

public Q_SLOTS:
    // Drops what was chosen or edited since the dialog was shown.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onProfileSelected(const QString& text);
    void applyFilter(const QString& text);
    void addProfileItem();

    std::unique_ptr<Ui_OverrideConfidentialityDialog> m_ui;
    QTableWidget* m_tagTable = nullptr;
    QComboBox* m_profiles = nullptr;
    Dicom::DeidentificationActionTable m_actions;
    QString m_name;
    QString m_path;
    QString m_fileName;  // the name the current file gives (empty for presets)
    struct State
    {
        QString name;
        QString path;
        Dicom::DeidentificationActionTable actions;
        QString fileName;
    };
    State m_shown;  // the profile when the dialog was last shown
};

}  // namespace Dravelin
