#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace Dravelin {

class ApplicationController;
class FactoryRegistry;
class PluginBase;

// Finds, checks, orders, initialises and unloads plug-ins.
//
// For every shared object it loads (dlopen), it reads dravelinPluginDescriptor and refuses a
// mismatch of magic, host version or build flags with one log line; it then needs
// dravelinCreatePlugin and dravelinPluginId, creates the plug-in, and once all of a batch are
// created, calls init() in dependency order. A plug-in that is broken (missing symbol, throwing
// constructor or init(), non-zero init(), duplicate id, unknown or failed dependency,
// dependency cycle) is logged at level 4, its factories removed and its library unloaded; the
// others load on. Unloading goes in reverse order of initialisation. Use on the GUI thread.
class PluginLoader
{
public:
    struct Info
    {
        QString id;
        QString path;
        QString author;
        QString description;
        QString pluginVersion;
        QStringList dependencies;
    };

    explicit PluginLoader(FactoryRegistry* registry = nullptr);
    // Unloads every plug-in.
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // Handed to each plug-in before its init().
    void setApplicationController(ApplicationController* application) { m_application = application; }

    // Loads every "*.so" file of `folder` (not recursive). Returns how many plug-ins were
    // initialised.
    int loadFolder(const QString& folder);
    // Loads the given files as one batch; dependencies may be among them or loaded before.
    int loadFiles(const QStringList& paths);
    void unloadAll();

    // The loaded plug-ins in initialisation order.
    std::vector<Info> plugins() const;
    PluginBase* plugin(const QString& id) const;

private:
    struct Loaded;
    struct Candidate;
    bool open(const QString& path, Candidate& candidate);
    void unload(Loaded& plugin);

    FactoryRegistry* m_registry;
    ApplicationController* m_application = nullptr;
    std::vector<std::unique_ptr<Loaded>> m_loaded;
};

}  // namespace Dravelin
