#pragma once

#include "host/properties/Properties.h"

#include <QString>
#include <QVariant>

#include <typeinfo>

namespace Dravelin {

class Configurable;

// Application-wide settings that survive restarts, stored with QSettings in the application's
// default scope (organization and application name of the QCoreApplication). Safe to call
// from any thread.
//
// Besides single values, whole Properties blocks are stored under a settings name: each
// parameter becomes the key NAME/PARAM, each nested block the group NAME/BLOCK, to any depth
// ('/', '\' and '%' in names are percent-encoded). Nested blocks keep their order. Values come
// back as the store keeps them (numbers and booleans as text); typed readers such as
// Configurable parameters convert them.
class GlobalSettings
{
public:
    // The stored value, or `defaultValue` when the key holds none.
    static QVariant loadValue(const QString& key, const QVariant& defaultValue = QVariant());
    static void storeValue(const QString& key, const QVariant& value);
    static bool contains(const QString& key);
    // Removes the key and every key below it.
    static void remove(const QString& key);

    // The block stored under `name` (named `name`; empty when nothing is stored).
    static Properties load(const QString& name);
    // Configures `object` with the block stored under `name`; parameters not stored keep
    // their values.
    static void load(Configurable& object, const QString& name);
    // Replaces everything stored under `name` with `properties`. False (and logged) when the
    // settings file cannot be written.
    static bool store(const QString& name, const Properties& properties);

    // The name a settings class is stored under: its demangled type name
    // ("Dravelin::DicomPluginSettings"), or the raw type-info name when demangling fails.
    template <typename T>
    static QString settingsName()
    {
        return typeName(typeid(T));
    }
    static QString typeName(const std::type_info& type);

    // Sets the organisation and application name of every program of ours, so that all of them
    // share one settings file (Dravelin/dravelin.conf). Called before the first QSettings.
    static void useApplicationSettingsFile();
};

}  // namespace Dravelin
