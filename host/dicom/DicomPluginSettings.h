#pragma once

#include "host/properties/BlockParameter.h"
#include "host/properties/Parameter.h"
#include "host/app/PersistentSettings.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/io/Compression.h"

#include <QStringList>

#include <cstddef>
#include <string>
#include <vector>

namespace Dravelin {

// Settings of the DICOM support, stored in the global settings under
// GlobalSettings::settingsName<DicomPluginSettings>() ("Dravelin::DicomPluginSettings").
// A new object holds the stored values; configure() stores changes at once.
//
// Parameters come in groups, so that an editor can show a subset (the bits of Group):
//   Loading  "datasetCacheCapacity", "ignoreNonDicomFiles", "irregularSpacing", "largestVolume"
//   Display  "applyRescale", "initialWindow"
//   Export   "exportCompression", "exportQuality"
//   Pacs     "pacsOwnAeTitle", "pacsOwnPort", "pacsConnectTimeout", "pacsDimseTimeout", and the
//            server list: the block "pacsServers" with one nested block per server, named after
//            the server and holding "pacsServerHostname", "pacsServerPort", "pacsServerAe" and
//            "pacsServerCGet".
class DicomPluginSettings : public PersistentSettings
{
public:
    enum Group : int { Loading = 1, Display = 2, Export = 4, Pacs = 8 };

    // One configured PACS server.
    struct PacsServer
    {
        std::string name;
        std::string hostname;
        int port = 104;
        std::string aeTitle;
        bool useCGet = false;

        bool operator==(const PacsServer& other) const;
        bool operator!=(const PacsServer& other) const { return !(*this == other); }
    };

    DicomPluginSettings();

    // The servers in settings order. A stored port that is not a number in 1..65535 is
    // logged and replaced by 104.
    std::vector<PacsServer> pacsServers() const;
    // Replaces the server list and stores it. Servers without a name or with a name used
    // before are skipped (and logged).
    void setPacsServers(const std::vector<PacsServer>& servers);
    // The connection to `server` with our own AE title, port and timeouts from these settings.
    DicomPacsConfiguration connectionConfiguration(const PacsServer& server) const;

    // Names of the parameters of one group (for Pacs: the four further parameters; the server
    // block is "pacsServers").
    static QStringList parameterNames(Group group);
    // An entry of the server list with the defaults of a new server, its parameter kinds and
    // editor attributes (label, port limits 1..65535).
    static Properties pacsServerTemplate();

    static const char* const PacsServersBlock;  // "pacsServers"
    static const char* const ResampleToGrid;    // "Resample to Regular Grid"
    static const char* const SplitIntoParts;    // "Split into Regular Parts"
    // The stored choice for unevenly spaced slices.
    bool splitsIrregularSeries() const { return irregularSpacing.value() == SplitIntoParts; }
    // The stored export compression (uncompressed for "None" or an unknown name).
    Dicom::Compression exportCompressionValue() const;

    Parameter<int> datasetCacheCapacity{"datasetCacheCapacity", 256, this};
    Parameter<bool> ignoreNonDicomFiles{"ignoreNonDicomFiles", true, this};
    // What the reader does with a series of unevenly spaced slices: ResampleToGrid or
    // SplitIntoParts (one image set per run of equal steps).
    Parameter<QString> irregularSpacing{"irregularSpacing", ResampleToGrid, this};
    // The most memory one decoded volume may take, in MiB; 0: half the memory.
    Parameter<int> largestVolume{"largestVolume", 0, this};
    // largestVolume in bytes, with 0 resolved.
    std::size_t largestVolumeBytes() const;
    Parameter<bool> applyRescale{"applyRescale", true, this};
    Parameter<QString> initialWindow{"initialWindow", "Stored Window", this};
    Parameter<QString> exportCompression{"exportCompression", "None", this};
    Parameter<int> exportQuality{"exportQuality", 90, this};
    Parameter<QString> pacsOwnAeTitle{"pacsOwnAeTitle", DicomPacsConfiguration::DefaultOwnAeTitle, this};
    Parameter<int> pacsOwnPort{"pacsOwnPort", DicomPacsConfiguration::DefaultOwnPort, this};
    Parameter<int> pacsConnectTimeout{"pacsConnectTimeout", DicomPacsConfiguration::DefaultConnectTimeoutSeconds, this};
    Parameter<int> pacsDimseTimeout{"pacsDimseTimeout", DicomPacsConfiguration::DefaultDimseTimeoutSeconds, this};
    BlockParameter pacsServersBlock{PacsServersBlock, this};
};

}  // namespace Dravelin
