#pragma once

#include <QString>
#include <QStringList>

namespace Dravelin {

// A plug-in's file-scope object: constructed when its shared object is loaded, it announces
// the plug-in's id to the host; destroyed when the object is unloaded, it withdraws it. The
// loader uses the announcements to tell that a library's static initialisation ran and which
// id it claims.
class PluginAutoRegistrationGuard
{
public:
    explicit PluginAutoRegistrationGuard(const char* (*id)());
    explicit PluginAutoRegistrationGuard(QString (*id)());
    ~PluginAutoRegistrationGuard();
    PluginAutoRegistrationGuard(const PluginAutoRegistrationGuard&) = delete;
    PluginAutoRegistrationGuard& operator=(const PluginAutoRegistrationGuard&) = delete;

    const QString& id() const { return m_id; }

    // Ids of the guards alive, in the order they were constructed. Thread-safe.
    static QStringList announcedIds();

private:
    void announce();
    QString m_id;
};

}  // namespace Dravelin
