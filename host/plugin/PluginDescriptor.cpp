#include "host/plugin/PluginDescriptor.h"

#include <QStringList>
#include <QVersionNumber>

namespace Dravelin {

PluginDescriptor PluginDescriptor::parse(const QString& text)
{
    PluginDescriptor d;
    const QStringList parts = text.split(QLatin1Char('|'));
    d.magic = parts.value(0);
    for (int i = 1; i < parts.size(); ++i) {
        const int eq = parts[i].indexOf(QLatin1Char('='));
        if (eq > 0)
            d.fields.insert(parts[i].left(eq), parts[i].mid(eq + 1));
    }
    return d;
}

QString PluginDescriptor::hostVersion()
{
    return QStringLiteral(DRAVELIN_HOST_VERSION);
}

QString PluginDescriptor::hostBuildFlags()
{
    return QStringLiteral(DRAVELIN_PLUGIN_BUILD_FLAGS);
}

QString PluginDescriptor::incompatibility() const
{
    if (magic != QLatin1String(DRAVELIN_PLUGIN_MAGIC))
        return QStringLiteral("unknown descriptor magic '%1'").arg(magic.left(64));
    if (!fields.contains(QStringLiteral("hostversion")))
        return QStringLiteral("the descriptor names no host version");
    const QVersionNumber wanted = QVersionNumber::fromString(fields.value(QStringLiteral("hostversion")));
    const QVersionNumber host = QVersionNumber::fromString(hostVersion());
    if (wanted.isNull() || wanted.majorVersion() != host.majorVersion() || wanted.minorVersion() != host.minorVersion())
        return QStringLiteral("built for host version %1, this host is %2")
            .arg(fields.value(QStringLiteral("hostversion")), hostVersion());
    if (fields.value(QStringLiteral("buildflags")) != hostBuildFlags())
        return QStringLiteral("built with flags '%1', this host with '%2'")
            .arg(fields.value(QStringLiteral("buildflags")), hostBuildFlags());
    return QString();
}

}  // namespace Dravelin
