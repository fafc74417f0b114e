#pragma once

#include "host/app/Algorithm.h"
#include "host/properties/Parameter.h"

#include <QStringList>

namespace Dravelin {

// An algorithm that reads data from or writes data to a location (a file, a folder, a URL).
//
// The location is the parameter "location". Parameters meant for the user (shown as options
// in file dialogs) are all others except those with the attribute "hidden" set to "true".
// Readers keep what they read until takeOutput(); writers write their input (the factory's
// data list, or setInput()).
class IoAlgorithm : public Algorithm
{
public:
    enum IoMode : int { Read = 0, Write = 1 };

    explicit IoAlgorithm(int ioMode);
    ~IoAlgorithm() override;

    int ioMode() const { return m_ioMode; }

    QString location() const { return m_location.value(); }
    void setLocation(const QString& location) { m_location = location; }

    // Suffixes without the dot ("dcm"; "" for files without one) that this algorithm reads or
    // writes; empty when it takes any file.
    virtual QStringList extensions() const;

    // The user options as a block: with `onlyUserVisible`, parameters marked hidden are left
    // out; the location is included only with `includeLocation`.
    virtual Properties userOptions(bool onlyUserVisible, bool includeLocation) const;

    // The data a writer writes: its own input unless set here.
    void setInput(const DataList& data) { m_input = data; }
    DataList writeInput() const { return m_input.empty() ? input() : m_input; }

    // The user's last options from the global settings, under "IoAlgorithm/<id>/<parameter>";
    // saveToGlobalSettings stores them there. Neither touches the location.
    virtual void configureFromGlobalSettings();
    void saveToGlobalSettings() const;

protected:
    Parameter<QString> m_location{"location", QString(), this};

private:
    QString settingsPrefix() const;

    int m_ioMode;
    DataList m_input;
};

}  // namespace Dravelin
