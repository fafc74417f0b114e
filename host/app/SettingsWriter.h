#pragma once

#include <QThread>

#include <memory>

class QSettings;

namespace Dravelin {

// Writes settings to the disk on a thread of its own. Writing a settings file waits for the
// disk (tens of milliseconds when it is busy, a tenth of a second under load), too long for
// the GUI thread in the middle of its work; the values set are seen at once by every QSettings
// of this process, as they share what has not been written yet.
class SettingsWriter
{
public:
    SettingsWriter();
    // Writes what is still waiting.
    ~SettingsWriter();
    SettingsWriter(const SettingsWriter&) = delete;
    SettingsWriter& operator=(const SettingsWriter&) = delete;

    // Takes settings the calling thread has set values in (a QSettings without a parent) and
    // writes them.
    void write(std::unique_ptr<QSettings> settings);

private:
    QThread m_thread;
};

}  // namespace Dravelin
