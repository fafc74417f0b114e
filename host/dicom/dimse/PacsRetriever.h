#pragma once

#include "host/core/Progress.h"
#include "host/core/Url.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin::Dicom {

// Turns a location of scheme "pacs" into datasets: reads the server and what the location
// names (a study, a series or one instance) and fetches it by C-GET or C-MOVE.
class PacsRetriever
{
public:
    struct Target
    {
        DicomPacsCommunication::Level level = DicomPacsCommunication::Level::Instance;
        std::string studyUid;
        std::string seriesUid;
        std::string sopInstanceUid;
        std::string sopClassUid;
    };

    // What a location names; nothing when it names no study (a server alone) or is not "pacs".
    static std::optional<Target> targetOf(const Filesystem::Url& url);
    // A location naming the whole series of an instance location (its "instance" and
    // "sopClass" items removed).
    static Filesystem::Url seriesUrlOf(const Filesystem::Url& instanceUrl);

    explicit PacsRetriever(DicomPacsCommunication::ErrorHandler errorHandler = {});

    // The datasets of the location, in instance-number order (then SOP Instance UID).
    // `locations` (when given) receives the "pacs" location of each dataset. Failures are
    // reported to the error handler and give what was received, possibly nothing.
    // Without `withPixelData` each dataset drops its pixel data as it arrives, so that a
    // header-only load of a large series never holds all its pixels at once. `received`
    // (when given) sees each dataset as it arrives, with how many the retrieval delivers in
    // all (0 while not known), so that a caller can take the pixels out right away.
    using ReceivedHook = std::function<void(DcmDataset& dataset, std::size_t expected)>;
    std::vector<std::shared_ptr<DcmDataset>> retrieve(const Filesystem::Url& url,
                                                      std::vector<std::string>* locations = nullptr,
                                                      Progress* progress = nullptr, bool withPixelData = true,
                                                      const ReceivedHook& received = {});

private:
    DicomPacsCommunication::ErrorHandler m_errorHandler;
};

}  // namespace Dravelin::Dicom
