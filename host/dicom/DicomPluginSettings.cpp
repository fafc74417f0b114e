#include "host/dicom/DicomPluginSettings.h"

#include "host/app/AttributeText.h"
#include "host/app/GlobalSettings.h"
#include "host/core/Log.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <set>

namespace Dravelin {

const char* const DicomPluginSettings::PacsServersBlock = "pacsServers";
const char* const DicomPluginSettings::ResampleToGrid = "Resample to Regular Grid";
const char* const DicomPluginSettings::SplitIntoParts = "Split into Regular Parts";

namespace {

const char* const HostnameKey = "pacsServerHostname";
const char* const PortKey = "pacsServerPort";
const char* const AeKey = "pacsServerAe";
const char* const CGetKey = "pacsServerCGet";

// Half the physical memory, or of the address space the process may use when that is less.
std::size_t halfTheMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    std::size_t memory = pages > 0 && pageSize > 0 ? std::size_t(pages) * std::size_t(pageSize) : std::size_t(8) << 30;
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        memory = std::min(memory, std::size_t(limit.rlim_cur));
    return memory / 2;
}

}  // namespace

bool DicomPluginSettings::PacsServer::operator==(const PacsServer& other) const
{
    return name == other.name && hostname == other.hostname && port == other.port && aeTitle == other.aeTitle &&
           useCGet == other.useCGet;
}

DicomPluginSettings::DicomPluginSettings() : PersistentSettings(GlobalSettings::settingsName<DicomPluginSettings>())
{
    AttributeText::apply(datasetCacheCapacity, "label: 'Dataset Cache Capacity', min: 1, max: 100000");
    AttributeText::apply(ignoreNonDicomFiles, "label: 'Ignore Files Without DICOM Header'");
    AttributeText::apply(
        irregularSpacing,
        QStringLiteral("label: 'Unevenly Spaced Slices', values: '%1|%2'").arg(ResampleToGrid, SplitIntoParts));
    AttributeText::apply(largestVolume, "label: 'Largest Volume (MiB, 0: Half the Memory)', min: 0, max: 16777216");
    AttributeText::apply(applyRescale, "label: 'Apply Rescale Slope and Intercept'");
    AttributeText::apply(initialWindow, "label: 'Initial Window', values: 'Stored Window|Full Range|Automatic'");
    AttributeText::apply(exportCompression,
                         "label: 'Export Compression', values: 'None|JPEG Lossless|JPEG-LS Lossless|JPEG 2000 "
                         "Lossless|JPEG Lossy|JPEG 2000 Lossy'");
    AttributeText::apply(exportQuality, "label: 'Lossy Compression Quality', min: 1, max: 100");
    AttributeText::apply(pacsOwnAeTitle, "label: 'Own Application Entity'");
    AttributeText::apply(pacsOwnPort, "label: 'Own Port (C-MOVE Destination)', min: 1, max: 65535");
    AttributeText::apply(pacsConnectTimeout, "label: 'Connection Timeout (s)', min: 1, max: 600");
    AttributeText::apply(pacsDimseTimeout, "label: 'Response Timeout (s)', min: 1, max: 3600");
    load();
}

std::vector<DicomPluginSettings::PacsServer> DicomPluginSettings::pacsServers() const
{
    std::vector<PacsServer> servers;
    for (const Properties* block : pacsServersBlock.value().allSubProperties()) {
        PacsServer server;
        server.name = block->name().toStdString();
        server.hostname = block->param(HostnameKey).toString().toStdString();
        server.aeTitle = block->param(AeKey).toString().toStdString();
        if (block->hasParam(PortKey)) {
            bool ok = false;
            const int port = block->param(PortKey).toString().toInt(&ok);
            if (ok && port >= 1 && port <= 65535)
                server.port = port;
            else
                Log::log(3, "DICOM",
                         "The PACS server " + block->name() + " has an invalid port (" +
                             block->param(PortKey).toString() + "); using 104");
        }
        const QVariant cget = block->param(CGetKey);
        server.useCGet = cget.isValid() && (cget.toString() == "true" || cget.toString() == "1");
        servers.push_back(server);
    }
    return servers;
}

void DicomPluginSettings::setPacsServers(const std::vector<PacsServer>& servers)
{
    Properties block(PacsServersBlock);
    std::set<std::string> seen;
    for (const PacsServer& server : servers) {
        if (server.name.empty() || !seen.insert(server.name).second) {
            Log::log(3, "DICOM", "A PACS server needs a name of its own; skipped '" + server.name + "'");
            continue;
        }
        Properties* entry = block.addSubProperties(QString::fromStdString(server.name));
        entry->addParam(HostnameKey, QString::fromStdString(server.hostname));
        entry->addParam(PortKey, server.port);
        entry->addParam(AeKey, QString::fromStdString(server.aeTitle));
        entry->addParam(CGetKey, server.useCGet);
    }
    Properties update(settingsName());
    *update.addSubProperties(PacsServersBlock) = block;
    configure(&update);
}

std::size_t DicomPluginSettings::largestVolumeBytes() const
{
    const int mib = largestVolume.value();
    return mib > 0 ? std::size_t(mib) << 20 : halfTheMemory();
}

Dicom::Compression DicomPluginSettings::exportCompressionValue() const
{
    using C = Dicom::Compression;
    static const std::pair<const char*, C> names[] = {
        {"JPEG Lossless", C::JpegLossless},          {"JPEG-LS Lossless", C::JpegLsLossless},
        {"JPEG 2000 Lossless", C::Jpeg2000Lossless}, {"JPEG Lossy", C::JpegLossy},
        {"JPEG 2000 Lossy", C::Jpeg2000Lossy},
    };
    for (const auto& [name, value] : names)
        if (exportCompression.value() == QLatin1String(name))
            return value;
    return C::ImplicitLittleEndian;
}

DicomPacsConfiguration DicomPluginSettings::connectionConfiguration(const PacsServer& server) const
{
    DicomPacsConfiguration config(server.hostname, server.port, server.aeTitle, server.useCGet);
    config.ownAeTitle = pacsOwnAeTitle.value().toStdString();
    config.ownPort = pacsOwnPort;
    config.connectTimeoutSeconds = pacsConnectTimeout;
    config.dimseTimeoutSeconds = pacsDimseTimeout;
    return config;
}

QStringList DicomPluginSettings::parameterNames(Group group)
{
    switch (group) {
        case Loading: return {"datasetCacheCapacity", "ignoreNonDicomFiles", "irregularSpacing", "largestVolume"};
        case Display: return {"applyRescale", "initialWindow"};
        case Export: return {"exportCompression", "exportQuality"};
        case Pacs: return {"pacsOwnAeTitle", "pacsOwnPort", "pacsConnectTimeout", "pacsDimseTimeout"};
    }
    return {};
}

Properties DicomPluginSettings::pacsServerTemplate()
{
    Properties entry(QStringLiteral("PACS Server"));
    entry.addParam(HostnameKey, QString());
    AttributeText::apply(entry, HostnameKey, "label: 'PACS Server Hostname'");
    entry.addParam(PortKey, 104);
    AttributeText::apply(entry, PortKey, "label: 'PACS Server Port', min: 1, max: 65535");
    entry.addParam(AeKey, QString());
    AttributeText::apply(entry, AeKey, "label: 'PACS Server Application Entity'");
    entry.addParam(CGetKey, false);
    AttributeText::apply(entry, CGetKey, "label: 'Use C-GET instead of C-MOVE'");
    return entry;
}

}  // namespace Dravelin
