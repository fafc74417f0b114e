#include "host/plugin/PluginAutoRegistrationGuard.h"

#include <mutex>

namespace Dravelin {

namespace {

struct Announcements
{
    std::mutex mutex;
    QStringList ids;
};

Announcements& announcements()
{
    // Never destroyed: guards of libraries unloaded at exit may outlive the host's statics.
    static auto* a = new Announcements;
    return *a;
}

}  // namespace

PluginAutoRegistrationGuard::PluginAutoRegistrationGuard(const char* (*id)())
    : m_id(id ? QString::fromUtf8(id()) : QString())
{
    announce();
}

PluginAutoRegistrationGuard::PluginAutoRegistrationGuard(QString (*id)()) : m_id(id ? id() : QString())
{
    announce();
}

void PluginAutoRegistrationGuard::announce()
{
    std::lock_guard<std::mutex> lock(announcements().mutex);
    announcements().ids << m_id;
}

PluginAutoRegistrationGuard::~PluginAutoRegistrationGuard()
{
    std::lock_guard<std::mutex> lock(announcements().mutex);
    announcements().ids.removeOne(m_id);
}

QStringList PluginAutoRegistrationGuard::announcedIds()
{
    std::lock_guard<std::mutex> lock(announcements().mutex);
    return announcements().ids;
}

}  // namespace Dravelin
