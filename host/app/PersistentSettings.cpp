#include "host/app/PersistentSettings.h"

#include "host/app/GlobalSettings.h"

#include <utility>

namespace Dravelin {

PersistentSettings::PersistentSettings(QString settingsName) : m_settingsName(std::move(settingsName)) {}

void PersistentSettings::load()
{
    const Properties stored = GlobalSettings::load(m_settingsName);
    Configurable::configure(&stored);
}

bool PersistentSettings::save() const
{
    Properties current(m_settingsName);
    configuration(&current);
    return GlobalSettings::store(m_settingsName, current);
}

void PersistentSettings::configure(const Properties* properties)
{
    if (!properties)
        return;
    Properties before(m_settingsName);
    configuration(&before);
    Configurable::configure(properties);
    Properties after(m_settingsName);
    configuration(&after);
    if (after != before)
        save();
}

}  // namespace Dravelin
