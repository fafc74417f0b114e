#pragma once

#include <QMap>
#include <QString>

// The descriptor every plug-in exports as `extern "C" const char* dravelinPluginDescriptor`:
//   "<magic>|hostversion=<x.y.z>|buildflags=<flags>|pluginversion=<text>"
// The host refuses a plug-in whose magic differs, whose host version has another major or
// minor number, or whose build flags differ from the host's (a plug-in built against a
// debugging standard library would corrupt the host's containers).
#define DRAVELIN_PLUGIN_MAGIC "__DRAVELIN_PLUGIN_V2_MAGIC_STRING__"
#define DRAVELIN_HOST_VERSION "4.5.0"
#define DRAVELIN_PLUGIN_STRINGIFY2(x) #x
#define DRAVELIN_PLUGIN_STRINGIFY(x) DRAVELIN_PLUGIN_STRINGIFY2(x)
// A macro that is not defined stringifies to its own name, a defined one to its value.
#define DRAVELIN_PLUGIN_BUILD_FLAGS "GLIBCXX_DEBUG:" DRAVELIN_PLUGIN_STRINGIFY(_GLIBCXX_DEBUG)
#define DRAVELIN_PLUGIN_DESCRIPTOR(pluginVersion)                                                          \
    DRAVELIN_PLUGIN_MAGIC "|hostversion=" DRAVELIN_HOST_VERSION "|buildflags=" DRAVELIN_PLUGIN_BUILD_FLAGS \
                          "|pluginversion=" pluginVersion

namespace Dravelin {

struct PluginDescriptor
{
    QString magic;
    // hostversion, buildflags, pluginversion, and any further key=value fields.
    QMap<QString, QString> fields;

    static PluginDescriptor parse(const QString& text);
    // Why the host cannot load a plug-in with this descriptor; empty when it can.
    QString incompatibility() const;

    // What this host build expects.
    static QString hostVersion();
    static QString hostBuildFlags();
};

}  // namespace Dravelin
