#include "host/dicom/dimse/DicomPacsScu.h"

#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/diutil.h>

#include <chrono>
#include <cstdlib>
#include <mutex>

namespace Dravelin {

namespace {

// Debian's DCMTK keeps Nagle's algorithm on unless this is set, which costs 40-80 ms per
// DIMSE message. DCMTK reads it at every connect and accept.
void enableTcpNoDelay()
{
    static std::once_flag once;
    std::call_once(once, [] { setenv("TCP_NODELAY", "1", 0); });
}

}  // namespace

DicomPacsScu::DicomPacsScu(const DicomPacsConfiguration& configuration)
    : m_dimseTimeout(configuration.dimseTimeoutSeconds)
{
    enableTcpNoDelay();
    setAETitle(configuration.ownAeTitle.c_str());
    setPeerAETitle(configuration.aeTitle.c_str());
    setPeerHostName(configuration.hostname.c_str());
    setPeerPort(static_cast<Uint16>(configuration.port));
    // Blocking reads: DCMTK's non-blocking mode polls every PDV and makes a C-GET about 2.5x
    // slower. Socket timeouts bound every read and write instead; the C-FIND loop still
    // waits in one-second slices so that it can answer an abort flag.
    setDIMSEBlockingMode(DIMSE_BLOCKING);
    dcmSocketReceiveTimeout.set(configuration.dimseTimeoutSeconds);
    dcmSocketSendTimeout.set(configuration.dimseTimeoutSeconds);
    setDIMSETimeout(static_cast<Uint32>(configuration.dimseTimeoutSeconds));
    setACSETimeout(static_cast<Uint32>(configuration.dimseTimeoutSeconds));
    setConnectionTimeout(configuration.connectTimeoutSeconds);
    setProgressNotificationMode(OFFalse);
    // The largest PDUs DCMTK takes: an image of 512 KiB arrives in 4 PDVs instead of 32.
    setMaxReceivePDULength(ASC_MAXIMUMPDUSIZE);
}

OFCondition DicomPacsScu::find(T_ASC_PresentationContextID presId, const char* sopClass, DcmDataset& keys,
                               const DatasetCallback& callback, std::atomic<bool>* abort, Uint16& finalStatus,
                               bool& cancelled)
{
    using Clock = std::chrono::steady_clock;
    cancelled = false;
    finalStatus = 0;

    T_DIMSE_Message request;
    memset(&request, 0, sizeof(request));
    request.CommandField = DIMSE_C_FIND_RQ;
    T_DIMSE_C_FindRQ& find = request.msg.CFindRQ;
    const Uint16 messageId = m_messageId++;
    find.MessageID = messageId;
    OFStandard::strlcpy(find.AffectedSOPClassUID, sopClass, sizeof(find.AffectedSOPClassUID));
    find.DataSetType = DIMSE_DATASET_PRESENT;
    find.Priority = DIMSE_PRIORITY_MEDIUM;
    OFCondition cond = sendDIMSEMessage(presId, &request, &keys);
    if (cond.bad())
        return cond;

    auto deadline = Clock::now() + std::chrono::seconds(m_dimseTimeout);
    for (;;) {
        if (!cancelled && abort && abort->load()) {
            T_DIMSE_Message cancel;
            memset(&cancel, 0, sizeof(cancel));
            cancel.CommandField = DIMSE_C_CANCEL_RQ;
            cancel.msg.CCancelRQ.MessageIDBeingRespondedTo = messageId;
            cancel.msg.CCancelRQ.DataSetType = DIMSE_DATASET_NULL;
            cond = sendDIMSEMessage(presId, &cancel, nullptr);
            if (cond.bad())
                return cond;
            cancelled = true;
            // A server that ignores the cancel must not keep the caller waiting for long.
            deadline = std::min(deadline, Clock::now() + std::chrono::seconds(2));
        }

        T_ASC_PresentationContextID responsePresId = 0;
        T_DIMSE_Message response;
        memset(&response, 0, sizeof(response));
        DcmDataset* statusDetail = nullptr;
        cond = receiveDIMSECommand(&responsePresId, &response, &statusDetail, nullptr, 1);
        delete statusDetail;
        if (cond == DIMSE_NODATAAVAILABLE) {
            if (Clock::now() >= deadline)
                return cancelled ? OFCondition(EC_Normal) : cond;
            continue;
        }
        if (cond.bad())
            return cond;
        if (response.CommandField != DIMSE_C_FIND_RSP)
            return DIMSE_BADCOMMANDTYPE;
        const T_DIMSE_C_FindRSP& rsp = response.msg.CFindRSP;
        deadline = cancelled ? deadline : Clock::now() + std::chrono::seconds(m_dimseTimeout);

        DcmDataset* data = nullptr;
        if (rsp.DataSetType != DIMSE_DATASET_NULL) {
            cond = receiveDIMSEDataset(&responsePresId, &data);
            if (cond.bad())
                return cond;
        }
        std::unique_ptr<DcmDataset> owned(data);
        if (DICOM_PENDING_STATUS(rsp.DimseStatus)) {
            if (!cancelled && owned && callback)
                callback(std::move(owned));
            continue;
        }
        finalStatus = rsp.DimseStatus;
        return EC_Normal;
    }
}

void DicomPacsScu::setInstanceCallback(DatasetCallback callback, std::atomic<bool>* abort)
{
    m_instanceCallback = std::move(callback);
    m_abort = abort;
}

OFCondition DicomPacsScu::handleSTORERequest(T_ASC_PresentationContextID, DcmDataset* incomingObject,
                                             OFBool& continueCGETSession, Uint16& cStoreReturnStatus)
{
    std::unique_ptr<DcmDataset> dataset(incomingObject);
    if (abortRequested()) {
        m_aborted = true;
        continueCGETSession = OFFalse;
        cStoreReturnStatus = STATUS_STORE_Refused_OutOfResources;
        return EC_Normal;
    }
    continueCGETSession = OFTrue;
    cStoreReturnStatus = STATUS_Success;
    if (m_instanceCallback && dataset)
        m_instanceCallback(std::move(dataset));
    return EC_Normal;
}

OFCondition DicomPacsScu::handleCGETResponse(T_ASC_PresentationContextID presID, RetrieveResponse* response,
                                             OFBool& continueCGETSession)
{
    const OFCondition cond = DcmSCU::handleCGETResponse(presID, response, continueCGETSession);
    if (response)
        m_expected = std::size_t(response->m_numberOfRemainingSubops) + response->m_numberOfCompletedSubops +
                     response->m_numberOfFailedSubops + response->m_numberOfWarningSubops;
    if (continueCGETSession && abortRequested()) {
        m_aborted = true;
        continueCGETSession = OFFalse;
    }
    return cond;
}

}  // namespace Dravelin
