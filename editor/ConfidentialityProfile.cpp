#include "editor/ConfidentialityProfile.h"

#include "editor/TagParameterName.h"
#include "host/app/GlobalSettings.h"
#include "host/properties/PropertiesIO.h"
#include "host/core/Log.h"

#include <QFileInfo>

namespace Dravelin {

const QString ConfidentialityProfile::basicProfileName = QStringLiteral("Basic Profile");
const QString ConfidentialityProfile::relaxedProfileName = QStringLiteral("Relaxed Profile");
const QString ConfidentialityProfile::customProfileName = QStringLiteral("Custom Profile");
const QString ConfidentialityProfile::profileNameKey =
    QStringLiteral("dicom/confidentialitySettingsDialog/profileName");
const QString ConfidentialityProfile::profilePathKey =
    QStringLiteral("dicom/confidentialitySettingsDialog/profilePath");
const QString ConfidentialityProfile::customTableKey =
    QStringLiteral("dicom/confidentialitySettingsDialog/customTable");

ConfidentialityProfile::ConfidentialityProfile()
{
    const QVariant name = GlobalSettings::loadValue(profileNameKey);
    if (name.isValid())
        profileName = name.toString();
    const QVariant path = GlobalSettings::loadValue(profilePathKey);
    if (path.isValid())
        profilePath = path.toString();
}

ConfidentialityProfile::~ConfidentialityProfile()
{
    clearTags();
}

void ConfidentialityProfile::configure(const Properties* properties)
{
    if (!properties)
        return;
    profileName.configure(properties);
    profilePath.configure(properties);
    for (const auto& p : properties->params())
        if (p.name != profileName.name() && p.name != profilePath.name())
            addTag(p.name, p.value.toString());
}

void ConfidentialityProfile::clearTags()
{
    m_tags.clear();  // each parameter unregisters itself
}

void ConfidentialityProfile::addTag(const QString& name, const QString& action)
{
    m_tags.push_back(std::make_unique<Parameter<QString>>(name, action, this));
}

void ConfidentialityProfile::setTable(const QString& name, const QString& path,
                                      const Dicom::DeidentificationActionTable& table)
{
    profileName = name;
    profilePath = path;
    clearTags();
    for (const auto& [tag, action] : table)
        addTag(tagParameterName(tag), QString::fromStdString(action));
    GlobalSettings::storeValue(profileNameKey, name);
    GlobalSettings::storeValue(profilePathKey, path);
    // Edits of a preset live nowhere else: without them the next start could not find the profile.
    if (path.isEmpty() && name != basicProfileName && name != relaxedProfileName) {
        QStringList entries;
        for (const auto& [tag, action] : table)
            entries << tagParameterName(tag) + QLatin1Char('=') + QString::fromStdString(action);
        GlobalSettings::storeValue(customTableKey, entries);
    }
}

std::optional<Dicom::DeidentificationActionTable> ConfidentialityProfile::storedCustomTable()
{
    Dicom::DeidentificationActionTable table;
    for (const QString& entry : GlobalSettings::loadValue(customTableKey).toStringList()) {
        const int split = entry.indexOf(QLatin1Char('='));
        if (const auto tag = parseTag(entry.left(split)); tag && split > 0)
            table[*tag] = entry.mid(split + 1).toStdString();
    }
    if (table.empty())
        return std::nullopt;
    return table;
}

Dicom::DeidentificationActionTable ConfidentialityProfile::actionTable(const Properties& properties)
{
    Dicom::DeidentificationActionTable table;
    for (const auto& p : properties.params())
        if (const auto tag = parseTag(p.name))
            table[*tag] = p.value.toString().toStdString();
    return table;
}

Dicom::DeidentificationActionTable ConfidentialityProfile::actionTable() const
{
    Dicom::DeidentificationActionTable table;
    for (const auto& tag : m_tags)
        if (const auto key = parseTag(tag->name()))
            table[*key] = tag->value().toStdString();
    return table;
}

std::optional<ConfidentialityProfile::File> ConfidentialityProfile::readFile(const QString& path)
{
    const auto properties = PropertiesIO::loadFromXML(path);
    if (!properties) {
        DRAVELIN_LOG(4, "", "Could not load " + path);
        return std::nullopt;
    }
    File file{properties->param(QStringLiteral("profileName")).toString(), actionTable(*properties)};
    if (file.table.empty()) {  // an empty table would de-identify nothing
        DRAVELIN_LOG(4, "", "Could not load " + path + ": it holds no tag action");
        return std::nullopt;
    }
    return file;
}

bool ConfidentialityProfile::writeFile(const QString& path, const QString& name,
                                       const Dicom::DeidentificationActionTable& table)
{
    Properties properties;
    if (!name.isEmpty())
        properties.addParam(QStringLiteral("profileName"), name);
    for (const auto& [tag, action] : table)
        properties.addParam(tagParameterName(tag), QString::fromStdString(action));
    return PropertiesIO::saveToXML(properties, path);
}

QString ConfidentialityProfile::methodName(const QString& name, const QString& path)
{
    if (!name.isEmpty())
        return name;
    return path.isEmpty() ? customProfileName : QFileInfo(path).completeBaseName();
}

std::optional<ConfidentialityProfile::File> ConfidentialityProfile::load(const QString& name, const QString& path)
{
    if (name == basicProfileName)
        return File{name, Dicom::tagDeidentificationActionBasicProfile()};
    if (name == relaxedProfileName)
        return File{name, Dicom::tagDeidentificationActionRelaxedProfile()};
    if (path.isEmpty())
        if (auto table = storedCustomTable())
            return File{name, std::move(*table)};
    if (!QFileInfo(path).isFile()) {
        DRAVELIN_LOG(4, "", "Invalid profile selection: " + name + " (" + path + ")");
        return load(basicProfileName, QString());
    }
    return readFile(path);
}

}  // namespace Dravelin
