#include "host/app/GlobalSettings.h"

#include "host/properties/Configurable.h"
#include "host/core/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace Dravelin {

namespace {

// Lists the nested blocks of a group in their order; '%' never starts an encoded name.
const QString BlockOrderKey = QStringLiteral("%blocks");

QString encodeName(const QString& name)
{
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        if (c == '%')
            out += QStringLiteral("%25");
        else if (c == '/')
            out += QStringLiteral("%2F");
        else if (c == '\\')
            out += QStringLiteral("%5C");
        else
            out += c;
    }
    return out;
}

QString decodeName(const QString& key)
{
    QString out;
    out.reserve(key.size());
    for (int i = 0; i < key.size(); ++i) {
        if (key[i] == '%' && i + 2 < key.size()) {
            bool ok = false;
            const int code = key.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 2;
                continue;
            }
        }
        out += key[i];
    }
    return out;
}

void writeBlock(QSettings& settings, const Properties& block)
{
    for (const Properties::Param& p : block.params()) {
        if (p.name.isEmpty()) {
            Log::log(2, "GlobalSettings", "A parameter without a name is not stored (block " + block.name() + ")");
            continue;
        }
        settings.setValue(encodeName(p.name), p.value);
    }
    QStringList order;
    for (const Properties* child : block.allSubProperties()) {
        if (child->name().isEmpty() || order.contains(child->name())) {
            Log::log(2, "GlobalSettings",
                     "A nested block without a name or with a repeated name is not stored: '" + child->name() +
                         "' in " + block.name());
            continue;
        }
        order << child->name();
        settings.beginGroup(encodeName(child->name()));
        writeBlock(settings, *child);
        settings.endGroup();
    }
    if (!order.isEmpty())
        settings.setValue(BlockOrderKey, order);
}

void readBlock(QSettings& settings, Properties& block)
{
    for (const QString& key : settings.childKeys())
        if (key != BlockOrderKey)
            block.addParam(decodeName(key), settings.value(key));

    // Listed blocks first, in their stored order (an empty block is listed but has no group);
    // groups written by hand and not listed follow in the store's order.
    QStringList names = settings.value(BlockOrderKey).toStringList();
    for (const QString& group : settings.childGroups()) {
        const QString name = decodeName(group);
        if (!names.contains(name))
            names << name;
    }
    for (const QString& name : names) {
        Properties* child = block.addSubProperties(name);
        settings.beginGroup(encodeName(name));
        readBlock(settings, *child);
        settings.endGroup();
    }
}

}  // namespace

QVariant GlobalSettings::loadValue(const QString& key, const QVariant& defaultValue)
{
    return QSettings().value(key, defaultValue);
}

void GlobalSettings::storeValue(const QString& key, const QVariant& value)
{
    QSettings settings;
    settings.setValue(key, value);
    settings.sync();
}

bool GlobalSettings::contains(const QString& key)
{
    return QSettings().contains(key);
}

void GlobalSettings::remove(const QString& key)
{
    QSettings settings;
    settings.remove(key);
    settings.sync();
}

Properties GlobalSettings::load(const QString& name)
{
    Properties block(name);
    if (name.isEmpty())
        return block;
    QSettings settings;
    settings.beginGroup(name);
    readBlock(settings, block);
    settings.endGroup();
    return block;
}

void GlobalSettings::load(Configurable& object, const QString& name)
{
    const Properties block = load(name);
    object.configure(&block);
}

bool GlobalSettings::store(const QString& name, const Properties& properties)
{
    if (name.isEmpty()) {
        Log::log(3, "GlobalSettings", "Settings without a name cannot be stored");
        return false;
    }
    QSettings settings;
    settings.remove(name);
    settings.beginGroup(name);
    writeBlock(settings, properties);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        Log::log(4, "GlobalSettings", "Could not write the settings " + name + " to " + settings.fileName());
        return false;
    }
    return true;
}

void GlobalSettings::useApplicationSettingsFile()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Dravelin"));
    QCoreApplication::setApplicationName(QStringLiteral("dravelin"));
    // Addresses of servers and patients' names in recent lists are nobody else's business. The
    // file is rewritten through a save file, which keeps the permissions set here.
    const QString fileName = QSettings().fileName();
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QFile file(fileName);
    if (!file.exists() && !file.open(QIODevice::WriteOnly))
        DRAVELIN_LOG(
            3, "",
            "Cannot create the settings file " + fileName.toStdString() + ": " + file.errorString().toStdString());
    file.close();
    if (file.exists() && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        DRAVELIN_LOG(3, "",
                     "Cannot make the settings file " + fileName.toStdString() +
                         " private: " + file.errorString().toStdString());
}

QString GlobalSettings::typeName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                     std::free);
    if (status == 0 && demangled)
        return QString::fromLatin1(demangled.get());
    return QString::fromLatin1(type.name());
}

}  // namespace Dravelin
