#pragma once

#include "host/properties/Configurable.h"
#include "host/properties/Parameter.h"
#include "host/dicom/deid/DeidentificationProfiles.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace Dravelin {

// The de-identification profile in use: its name, the file of a custom profile, and one text
// parameter per tag ("(gggg,eeee)" -> action code). It is the "confidentialityProfile" block of
// DicomEditorAlgorithm, which exposes it as DicomEditorAlgorithm::ConfidentialityProfile.
//
// Profile files are XML property files (PropertiesIO) whose block holds "profileName" (left out
// when there is none) and one text parameter per tag. On reading, parameters that are not tag
// names are ignored, and of two parameters for the same tag the later one wins.
class ConfidentialityProfile : public Configurable
{
public:
    static const QString basicProfileName;    // "Basic Profile"
    static const QString relaxedProfileName;  // "Relaxed Profile"
    static const QString customProfileName;   // "Custom Profile"
    static const QString profileNameKey;      // "dicom/confidentialitySettingsDialog/profileName"
    static const QString profilePathKey;      // "dicom/confidentialitySettingsDialog/profilePath"
    // The table of a profile without a file (an edited preset), as "(gggg,eeee)=ACTION" texts.
    static const QString customTableKey;  // "dicom/confidentialitySettingsDialog/customTable"

    // Defaults, then the name and path remembered in the global settings, when they hold one.
    ConfidentialityProfile();
    ~ConfidentialityProfile() override;

    Parameter<QString> profileName{QStringLiteral("profileName"), basicProfileName, this};
    Parameter<QString> profilePath{QStringLiteral("profilePath"), QString(), this};

    // Sets the name and path like any configurable, then appends one tag parameter for every
    // other parameter of the block (tags already in the list stay).
    void configure(const Properties* properties) override;

    const std::vector<std::unique_ptr<Parameter<QString>>>& tagParameters() const { return m_tags; }
    void clearTags();
    void addTag(const QString& name, const QString& action);

    // Replaces the tag list by `table` (map order), sets name and path, and remembers both in
    // the global settings; so is the table of a profile that is neither a preset nor a file.
    void setTable(const QString& name, const QString& path, const Dicom::DeidentificationActionTable& table);

    // The action table the parameters describe (later parameters for one tag win).
    Dicom::DeidentificationActionTable actionTable() const;
    static Dicom::DeidentificationActionTable actionTable(const Properties& properties);

    struct File
    {
        QString name;  // empty when the file names none
        Dicom::DeidentificationActionTable table;
    };
    // Nothing when the file cannot be read or holds no tag action (logged "Could not load " + path).
    static std::optional<File> readFile(const QString& path);
    static bool writeFile(const QString& path, const QString& name, const Dicom::DeidentificationActionTable& table);

    // The name a de-identification records as its method: `name`, else the base name of the
    // profile file at `path`, else "Custom Profile".
    static QString methodName(const QString& name, const QString& path);

    // The table remembered for a profile without a file; nothing when none is.
    static std::optional<Dicom::DeidentificationActionTable> storedCustomTable();

    // The table of a profile name: the two presets by name, else the file at `path`, else (no
    // path) the table remembered in the settings.
    // "Invalid profile selection: " is logged (and Basic used) when a custom file is missing.
    static std::optional<File> load(const QString& name, const QString& path);

private:
    std::vector<std::unique_ptr<Parameter<QString>>> m_tags;
};

}  // namespace Dravelin
