#pragma once

#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/Error.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin {

// DIMSE client for one PACS server: C-ECHO, C-FIND, C-GET, C-MOVE (to a storage SCP of our
// own, on the configured own port) and C-STORE. Every operation opens its own association
// and closes it before returning, so one object may be used from several threads.
//
// Failures (connection refused, association rejected or aborted, timeouts, failure
// statuses) go to the error handler, or are logged (level 4, "DICOM") when none is set.
// Nothing throws; a dead or silent server costs at most the connect or DIMSE timeout.
class DicomPacsCommunication
{
public:
    using ErrorHandler = std::function<void(const Dicom::Error&)>;
    using ResponseCallback = std::function<void(std::unique_ptr<DcmDataset>)>;

    enum RetrieveInformationModel : int { PatientRoot = 0, StudyRoot = 1, PatientStudyOnly = 2 };
    enum class Level { Study, Series, Instance };

    explicit DicomPacsCommunication(const DicomPacsConfiguration& configuration);
    ~DicomPacsCommunication();

    const DicomPacsConfiguration& connectionConfiguration() const { return m_configuration; }

    void setErrorHandler(ErrorHandler handler);
    // Before each instance a C-GET delivers: how many it delivers in all, as the server's last
    // response counted them (0 while not known); before a C-MOVE's instances: how many came.
    void setInstanceCountHandler(std::function<void(std::size_t)> handler);

    // C-ECHO; true when the server answered with success.
    bool sendEchoRequest();

    // One C-FIND with `identifier`. `callback` receives each pending response's identifier on
    // the calling thread, before this returns. `abort` (may be null) is polled while waiting;
    // once set, a C-CANCEL is sent and no further responses are delivered. True when the
    // query ended with success (or was cancelled).
    bool sendFindRequest(RetrieveInformationModel model, const DcmDataset& identifier, const ResponseCallback& callback,
                         std::atomic<bool>* abort = nullptr);

    // Retrieves a study, a series or one instance (the UIDs below `level` may be empty) by
    // C-GET or C-MOVE, as configured. `callback` receives every instance on the calling
    // thread. `sopClassUid` (optional) lets C-GET propose that class's compressed syntaxes.
    // True when every sub-operation succeeded.
    bool retrieve(Level level, const std::string& studyUid, const std::string& seriesUid,
                  const std::string& sopInstanceUid, const ResponseCallback& callback,
                  std::atomic<bool>* abort = nullptr, const std::string& sopClassUid = {});

    // C-STORE of every dataset on one association; true when all were stored.
    bool sendStoreRequest(const std::vector<std::shared_ptr<DcmDataset>>& datasets);

private:
    bool retrieveByGet(DcmDataset& keys, const ResponseCallback& callback, std::atomic<bool>* abort,
                       const std::string& sopClassUid);
    bool retrieveByMove(DcmDataset& keys, const ResponseCallback& callback, std::atomic<bool>* abort);
    void reportError(Dicom::Error::Code code, const std::string& message) const;

    DicomPacsConfiguration m_configuration;
    ErrorHandler m_errorHandler;
    std::function<void(std::size_t)> m_countHandler;
};

}  // namespace Dravelin
