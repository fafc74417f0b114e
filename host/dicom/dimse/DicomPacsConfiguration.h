#pragma once

#include "host/core/Url.h"

#include <string>
#include <utility>
#include <vector>

class DcmDataset;

namespace Dravelin {

// How to reach one PACS server over DIMSE, and how we present ourselves to it.
//
// A configuration travels inside locations of scheme "pacs":
//   pacs://HOST:PORT/CALLED_AET?callingAet=A&callingPort=N&get=0|1[&study=..&series=..&instance=..&sopClass=..]
// The part before the UIDs names the server; the UIDs name what is to be retrieved.
class DicomPacsConfiguration
{
public:
    using QueryItems = std::vector<std::pair<std::string, std::string>>;

    static constexpr const char* Scheme = "pacs";
    static constexpr const char* DefaultOwnAeTitle = "DRAVELIN";
    static constexpr int DefaultOwnPort = 11113;
    static constexpr int DefaultConnectTimeoutSeconds = 10;
    static constexpr int DefaultDimseTimeoutSeconds = 30;

    DicomPacsConfiguration() = default;
    DicomPacsConfiguration(const std::string& hostname, int port, const std::string& aeTitle, bool useCGet);

    std::string hostname;                        // server host name or address
    int port = 0;                                // server DIMSE port
    std::string aeTitle;                         // server (called) AE title
    std::string ownAeTitle = DefaultOwnAeTitle;  // our (calling) AE title
    int ownPort = DefaultOwnPort;                // where our storage SCP listens for C-MOVE
    bool useCGet = false;                        // C-GET instead of C-MOVE for retrieval
    int connectTimeoutSeconds = DefaultConnectTimeoutSeconds;
    int dimseTimeoutSeconds = DefaultDimseTimeoutSeconds;

    // Host and both AE titles set (AE titles 1 to 16 characters, no backslash or control
    // characters), ports in 1..65535, timeouts positive.
    bool isValid() const;

    // A location naming one instance of a C-FIND response (its Study, Series and SOP
    // Instance UIDs, and the SOP Class UID when the response has one).
    Filesystem::Url generateUri(DcmDataset& response) const;
    // A location naming this server, with `query` appended after the connection items.
    Filesystem::Url generateUri(const QueryItems& query = {}) const;

    // Reads the server part of a "pacs" location (instance, series, study or server alone).
    // Anything else gives a default configuration, which is not valid.
    static DicomPacsConfiguration fromUri(const Filesystem::Url& url);

    bool operator==(const DicomPacsConfiguration& other) const;
    bool operator!=(const DicomPacsConfiguration& other) const { return !(*this == other); }
};

}  // namespace Dravelin
