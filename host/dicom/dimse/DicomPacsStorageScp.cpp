#include "host/dicom/dimse/DicomPacsStorageScp.h"

#include <dcmtk/dcmdata/dcuid.h>

namespace Dravelin {

DicomPacsStorageScp::DicomPacsStorageScp(const std::string& aeTitle, int port, int dimseTimeoutSeconds)
{
    setAETitle(aeTitle.c_str());
    setPort(static_cast<Uint16>(port));
    setConnectionBlockingMode(DUL_NOBLOCK);
    setConnectionTimeout(1);  // how often the accept loop looks at the stop flag
    setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    setDIMSETimeout(static_cast<Uint32>(dimseTimeoutSeconds));
    setACSETimeout(static_cast<Uint32>(dimseTimeoutSeconds));
    setHostLookupEnabled(OFFalse);

    // Uncompressed first: the server then sends what it stores without transcoding when
    // it proposes an uncompressed syntax, and compressed data stays compressed otherwise.
    OFList<OFString> syntaxes;
    for (const char* uid :
         {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax,
          UID_BigEndianExplicitTransferSyntax, UID_DeflatedExplicitVRLittleEndianTransferSyntax,
          UID_JPEGProcess1TransferSyntax, UID_JPEGProcess2_4TransferSyntax, UID_JPEGProcess14SV1TransferSyntax,
          UID_JPEGProcess14TransferSyntax, UID_JPEGLSLosslessTransferSyntax, UID_JPEGLSLossyTransferSyntax,
          UID_JPEG2000LosslessOnlyTransferSyntax, UID_JPEG2000TransferSyntax, UID_RLELosslessTransferSyntax})
        syntaxes.push_back(uid);
    for (int i = 0; i < numberOfDcmAllStorageSOPClassUIDs; ++i)
        addPresentationContext(dcmAllStorageSOPClassUIDs[i], syntaxes);
    addPresentationContext(UID_VerificationSOPClass, syntaxes);
}

DicomPacsStorageScp::~DicomPacsStorageScp()
{
    stop();
}

OFCondition DicomPacsStorageScp::start()
{
    const OFCondition cond = openListenPort();
    if (cond.bad())
        return cond;
    m_thread = std::thread([this] { acceptAssociations(); });
    return cond;
}

void DicomPacsStorageScp::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::unique_ptr<DcmDataset>> DicomPacsStorageScp::takeDatasets()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::move(m_datasets);
}

OFCondition DicomPacsStorageScp::handleIncomingCommand(T_DIMSE_Message* incomingMsg,
                                                       const DcmPresentationContextInfo& presInfo)
{
    if (incomingMsg->CommandField != DIMSE_C_STORE_RQ)
        return DcmSCP::handleIncomingCommand(incomingMsg, presInfo);
    T_DIMSE_C_StoreRQ& request = incomingMsg->msg.CStoreRQ;
    DcmDataset* dataset = nullptr;
    OFCondition cond = receiveSTORERequest(request, presInfo.presentationContextID, dataset);
    std::unique_ptr<DcmDataset> owned(dataset);
    if (cond.bad())
        return cond;
    cond = sendSTOREResponse(presInfo.presentationContextID, request, STATUS_Success);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_datasets.push_back(std::move(owned));
    return cond;
}

}  // namespace Dravelin
