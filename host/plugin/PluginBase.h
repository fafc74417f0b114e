#pragma once

#include <QString>
#include <QStringList>

namespace Dravelin {

// A library the host loads at start-up. Each plug-in exports, with C linkage:
//   PluginBase* dravelinCreatePlugin();          a new plug-in object, owned by the host
//   const char* dravelinPluginId();              its id, such as "Dravelin.DicomGui"
//   const char* dravelinPluginDescriptor;        DRAVELIN_PLUGIN_DESCRIPTOR("<version>")
// and holds a file-scope PluginAutoRegistrationGuard. The host creates every plug-in of its
// folder, calls init() in dependency order (dependencies first) and deletes them in reverse.
class PluginBase
{
public:
    PluginBase();
    virtual ~PluginBase();
    PluginBase(const PluginBase&) = delete;
    PluginBase& operator=(const PluginBase&) = delete;

    virtual QString author() const;
    virtual QString description() const;
    // Ids of the plug-ins whose init() must run before this one's.
    virtual QStringList dependencies() const;
    // Registers the plug-in's factories and pages; 0 on success. A non-zero result or an
    // exception makes the host unload the plug-in.
    virtual int init() = 0;

    // The id the loader found (dravelinPluginId); set before init().
    const QString& pluginId() const { return m_id; }
    void setPluginId(const QString& id) { m_id = id; }

private:
    QString m_id;
};

}  // namespace Dravelin
