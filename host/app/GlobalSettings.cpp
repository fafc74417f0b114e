#include "host/app/GlobalSettings.h"

#include <QSettings>

namespace Dravelin {

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

}  // namespace Dravelin
