#pragma once

#include "host/dicom/dimse/DicomPacsConfiguration.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/scu.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

namespace Dravelin {

// One association to a PACS, as DcmSCU configured from a DicomPacsConfiguration.
// Adds what DcmSCU lacks: a C-FIND whose responses reach a callback as they arrive and that
// a flag can cancel while waiting, and C-GET sub-operations received into memory.
class DicomPacsScu : public DcmSCU
{
public:
    using DatasetCallback = std::function<void(std::unique_ptr<DcmDataset>)>;

    // Sets AE titles, peer, timeouts, non-blocking DIMSE and TCP_NODELAY.
    explicit DicomPacsScu(const DicomPacsConfiguration& configuration);

    // Sends one C-FIND and hands every pending response's identifier to `callback`.
    // The abort flag is checked at least once a second; once set, a C-CANCEL is sent, no
    // further responses are delivered, and `cancelled` is set. `finalStatus` receives the
    // status of the last response.
    OFCondition find(T_ASC_PresentationContextID presId, const char* sopClass, DcmDataset& keys,
                     const DatasetCallback& callback, std::atomic<bool>* abort, Uint16& finalStatus, bool& cancelled);

    // Received C-GET sub-operations go to `callback` (on the calling thread); an abort flag
    // ends the session at the next message.
    void setInstanceCallback(DatasetCallback callback, std::atomic<bool>* abort);
    bool wasAborted() const { return m_aborted; }
    // How many instances the C-GET delivers in all, as its last response counted them; 0
    // before the first response or when the server does not count.
    std::size_t expectedInstances() const { return m_expected; }

protected:
    OFCondition handleSTORERequest(T_ASC_PresentationContextID presID, DcmDataset* incomingObject,
                                   OFBool& continueCGETSession, Uint16& cStoreReturnStatus) override;
    OFCondition handleCGETResponse(T_ASC_PresentationContextID presID, RetrieveResponse* response,
                                   OFBool& continueCGETSession) override;

private:
    bool abortRequested() const { return m_abort && m_abort->load(); }

    int m_dimseTimeout = DicomPacsConfiguration::DefaultDimseTimeoutSeconds;
    Uint16 m_messageId = 1;
    DatasetCallback m_instanceCallback;
    std::atomic<bool>* m_abort = nullptr;
    bool m_aborted = false;
    std::size_t m_expected = 0;
};

}  // namespace Dravelin
