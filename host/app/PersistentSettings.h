#pragma once

#include "host/properties/Configurable.h"

#include <QString>

namespace Dravelin {

// A settings object that lives in the global settings under one name and persists itself:
// every configure() that changes something is written back at once, so any fresh object
// of the same class sees it. Derived classes register their parameters and then call
// load() in their constructor.
class PersistentSettings : public Configurable
{
public:
    explicit PersistentSettings(QString settingsName);

    const QString& settingsName() const { return m_settingsName; }

    // Reads the stored values over the current ones; parameters not stored keep theirs.
    void load();
    // Writes the whole configuration, replacing what was stored under the name.
    bool save() const;

    // Applies `properties` like any Configurable, then saves when anything changed.
    void configure(const Properties* properties) override;

private:
    QString m_settingsName;
};

}  // namespace Dravelin
