#pragma once

#include <QString>
#include <QVariant>

namespace Dravelin {

// Application-wide settings that survive restarts, stored with QSettings in the application's
// default scope (organization and application name of the QCoreApplication). Safe to call
// from any thread.
class GlobalSettings
{
public:
    // The stored value, or `defaultValue` when the key holds none.
    static QVariant loadValue(const QString& key, const QVariant& defaultValue = QVariant());
    static void storeValue(const QString& key, const QVariant& value);
    static bool contains(const QString& key);
    static void remove(const QString& key);
};

}  // namespace Dravelin
