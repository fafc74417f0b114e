#include "host/dicom/dimse/DicomPacsCommunication.h"

#include "host/core/Log.h"
#include "host/dicom/dimse/DicomPacsScu.h"
#include "host/dicom/dimse/DicomPacsStorageScp.h"
#include "host/dicom/Utils.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <set>

namespace Dravelin {

namespace {

const char* findModelUid(DicomPacsCommunication::RetrieveInformationModel model)
{
    switch (model) {
        case DicomPacsCommunication::PatientRoot: return UID_FINDPatientRootQueryRetrieveInformationModel;
        case DicomPacsCommunication::PatientStudyOnly:
            return UID_RETIRED_FINDPatientStudyOnlyQueryRetrieveInformationModel;
        case DicomPacsCommunication::StudyRoot: break;
    }
    return UID_FINDStudyRootQueryRetrieveInformationModel;
}

OFList<OFString> syntaxList(std::initializer_list<const char*> uids)
{
    OFList<OFString> list;
    for (const char* uid : uids)
        list.push_back(uid);
    return list;
}

OFList<OFString> uncompressedSyntaxes()
{
    return syntaxList({UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax,
                       UID_BigEndianExplicitTransferSyntax});
}

std::string hex(Uint16 status)
{
    char text[8];
    std::snprintf(text, sizeof(text), "0x%04X", status);
    return text;
}

// C-MOVE retrievals share the configured own port, so they run one at a time.
std::mutex& moveMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::string describeRetrieveStatus(const char* operation, const OFList<RetrieveResponse*>& responses)
{
    if (responses.empty())
        return std::string(operation) + " ended without a final response";
    const RetrieveResponse* last = responses.back();
    return std::string(operation) + " failed with status " + hex(last->m_status) + " (" +
           std::to_string(last->m_numberOfCompletedSubops) + " completed, " +
           std::to_string(last->m_numberOfFailedSubops) + " failed, " + std::to_string(last->m_numberOfWarningSubops) +
           " warnings)";
}

bool retrieveSucceeded(const OFList<RetrieveResponse*>& responses)
{
    return !responses.empty() && responses.back()->m_status == STATUS_Success;
}

void deleteResponses(OFList<RetrieveResponse*>& responses)
{
    for (RetrieveResponse* response : responses)
        delete response;
    responses.clear();
}

// Negotiates the association; on failure reports it and returns false.
bool connect(DicomPacsScu& scu, const DicomPacsConfiguration& config, const std::string& operation,
             const std::function<void(Dicom::Error::Code, const std::string&)>& report)
{
    OFCondition cond = scu.initNetwork();
    if (cond.good())
        cond = scu.negotiateAssociation();
    if (cond.good())
        return true;
    report(Dicom::Error::NetworkError, operation + ": cannot open an association with " + config.aeTitle + " at " +
                                           config.hostname + ":" + std::to_string(config.port) + ": " + cond.text());
    return false;
}

void closeAssociation(DicomPacsScu& scu, bool clean)
{
    if (!scu.isConnected())
        return;
    if (clean)
        scu.releaseAssociation();
    else
        scu.abortAssociation();
}

// The accepted context for `sopClass`; 0 (association released, failure reported) when the
// server accepted none.
T_ASC_PresentationContextID acceptedContext(DicomPacsScu& scu, const char* sopClass, const std::string& operation,
                                            const std::function<void(Dicom::Error::Code, const std::string&)>& report)
{
    const T_ASC_PresentationContextID presId = scu.findAnyPresentationContextID(sopClass, "");
    if (presId == 0) {
        closeAssociation(scu, true);
        report(Dicom::Error::NotSupported, operation + ": the server does not support " + sopClass);
    }
    return presId;
}

}  // namespace

DicomPacsCommunication::DicomPacsCommunication(const DicomPacsConfiguration& configuration)
    : m_configuration(configuration)
{
}

DicomPacsCommunication::~DicomPacsCommunication() = default;

void DicomPacsCommunication::setErrorHandler(ErrorHandler handler)
{
    m_errorHandler = std::move(handler);
}

void DicomPacsCommunication::setInstanceCountHandler(std::function<void(std::size_t)> handler)
{
    m_countHandler = std::move(handler);
}

void DicomPacsCommunication::reportError(Dicom::Error::Code code, const std::string& message) const
{
    const Dicom::Error error(code, Dicom::Error::Fatal, message);
    if (m_errorHandler)
        m_errorHandler(error);
    else
        DRAVELIN_LOG(4, "DICOM", message);
}

bool DicomPacsCommunication::sendEchoRequest()
{
    auto report = [this](Dicom::Error::Code code, const std::string& text) { reportError(code, text); };
    if (!m_configuration.isValid()) {
        report(Dicom::Error::InvalidValue, "C-ECHO: the PACS configuration is not valid");
        return false;
    }
    DicomPacsScu scu(m_configuration);
    scu.addPresentationContext(UID_VerificationSOPClass, uncompressedSyntaxes());
    if (!connect(scu, m_configuration, "C-ECHO", report))
        return false;
    const OFCondition cond = scu.sendECHORequest(0);
    closeAssociation(scu, cond.good());
    if (cond.bad())
        report(Dicom::Error::NetworkError, std::string("C-ECHO failed: ") + cond.text());
    return cond.good();
}

bool DicomPacsCommunication::sendFindRequest(RetrieveInformationModel model, const DcmDataset& identifier,
                                             const ResponseCallback& callback, std::atomic<bool>* abort)
{
    auto report = [this](Dicom::Error::Code code, const std::string& text) { reportError(code, text); };
    if (!m_configuration.isValid()) {
        report(Dicom::Error::InvalidValue, "C-FIND: the PACS configuration is not valid");
        return false;
    }
    if (abort && abort->load())
        return true;
    const char* sopClass = findModelUid(model);
    DicomPacsScu scu(m_configuration);
    scu.addPresentationContext(sopClass, uncompressedSyntaxes());
    if (!connect(scu, m_configuration, "C-FIND", report))
        return false;
    const T_ASC_PresentationContextID presId = acceptedContext(scu, sopClass, "C-FIND", report);
    if (presId == 0)
        return false;
    DcmDataset keys(identifier);
    Uint16 status = 0;
    bool cancelled = false;
    const OFCondition cond = scu.find(presId, sopClass, keys, callback, abort, status, cancelled);
    const bool finished = cond.good() && (status != 0 || !cancelled);
    closeAssociation(scu, finished);
    if (cond.bad()) {
        report(Dicom::Error::NetworkError, std::string("C-FIND failed: ") + cond.text());
        return false;
    }
    if (cancelled)
        return true;
    if (status != STATUS_Success) {
        report(Dicom::Error::NetworkError, "C-FIND failed with status " + hex(status));
        return false;
    }
    return true;
}

bool DicomPacsCommunication::retrieve(Level level, const std::string& studyUid, const std::string& seriesUid,
                                      const std::string& sopInstanceUid, const ResponseCallback& callback,
                                      std::atomic<bool>* abort, const std::string& sopClassUid)
{
    if (!m_configuration.isValid()) {
        reportError(Dicom::Error::InvalidValue, "Retrieval: the PACS configuration is not valid");
        return false;
    }
    DcmDataset keys;
    const char* levelName = level == Level::Study ? "STUDY" : level == Level::Series ? "SERIES" : "IMAGE";
    keys.putAndInsertString(DCM_QueryRetrieveLevel, levelName);
    keys.putAndInsertString(DCM_StudyInstanceUID, studyUid.c_str());
    if (level != Level::Study)
        keys.putAndInsertString(DCM_SeriesInstanceUID, seriesUid.c_str());
    if (level == Level::Instance)
        keys.putAndInsertString(DCM_SOPInstanceUID, sopInstanceUid.c_str());
    if (abort && abort->load())
        return false;
    return m_configuration.useCGet ? retrieveByGet(keys, callback, abort, sopClassUid)
                                   : retrieveByMove(keys, callback, abort);
}

bool DicomPacsCommunication::retrieveByGet(DcmDataset& keys, const ResponseCallback& callback, std::atomic<bool>* abort,
                                           const std::string& sopClassUid)
{
    auto report = [this](Dicom::Error::Code code, const std::string& text) { reportError(code, text); };
    DicomPacsScu scu(m_configuration);
    scu.addPresentationContext(UID_GETStudyRootQueryRetrieveInformationModel, uncompressedSyntaxes());
    int contexts = 1;
    // Compressed syntaxes get contexts of their own: offered together with uncompressed
    // ones, a server may pick the uncompressed one and then fail to transcode.
    if (!sopClassUid.empty()) {
        for (const char* syntax :
             {UID_JPEG2000LosslessOnlyTransferSyntax, UID_JPEG2000TransferSyntax, UID_JPEGProcess14SV1TransferSyntax,
              UID_JPEGProcess1TransferSyntax, UID_JPEGProcess2_4TransferSyntax, UID_JPEGLSLosslessTransferSyntax,
              UID_RLELosslessTransferSyntax}) {
            scu.addPresentationContext(sopClassUid.c_str(), syntaxList({syntax}), ASC_SC_ROLE_SCP);
            ++contexts;
        }
        scu.addPresentationContext(sopClassUid.c_str(), uncompressedSyntaxes(), ASC_SC_ROLE_SCP);
        ++contexts;
    }
    for (int i = 0; i < numberOfDcmLongSCUStorageSOPClassUIDs && contexts < 128; ++i) {
        if (sopClassUid == dcmLongSCUStorageSOPClassUIDs[i])
            continue;
        scu.addPresentationContext(dcmLongSCUStorageSOPClassUIDs[i], uncompressedSyntaxes(), ASC_SC_ROLE_SCP);
        ++contexts;
    }
    if (!connect(scu, m_configuration, "C-GET", report))
        return false;
    const T_ASC_PresentationContextID presId =
        acceptedContext(scu, UID_GETStudyRootQueryRetrieveInformationModel, "C-GET", report);
    if (presId == 0)
        return false;
    scu.setInstanceCallback(
        [&](std::unique_ptr<DcmDataset> dataset) {
            if (m_countHandler)
                m_countHandler(scu.expectedInstances());
            if (callback)
                callback(std::move(dataset));
        },
        abort);
    OFList<RetrieveResponse*> responses;
    const OFCondition cond = scu.sendCGETRequest(presId, &keys, &responses);
    const bool ok = cond.good() && retrieveSucceeded(responses);
    closeAssociation(scu, cond.good() && !scu.wasAborted());
    if (scu.wasAborted()) {
        deleteResponses(responses);
        return false;
    }
    if (cond.bad())
        report(Dicom::Error::NetworkError, std::string("C-GET failed: ") + cond.text());
    else if (!ok)
        report(Dicom::Error::NetworkError, describeRetrieveStatus("C-GET", responses));
    deleteResponses(responses);
    return ok;
}

bool DicomPacsCommunication::retrieveByMove(DcmDataset& keys, const ResponseCallback& callback,
                                            std::atomic<bool>* abort)
{
    auto report = [this](Dicom::Error::Code code, const std::string& text) { reportError(code, text); };
    std::lock_guard<std::mutex> lock(moveMutex());
    if (abort && abort->load())
        return false;
    DicomPacsStorageScp receiver(m_configuration.ownAeTitle, m_configuration.ownPort,
                                 m_configuration.dimseTimeoutSeconds);
    OFCondition cond = receiver.start();
    if (cond.bad()) {
        report(Dicom::Error::NetworkError,
               "C-MOVE: cannot receive on port " + std::to_string(m_configuration.ownPort) + ": " + cond.text());
        return false;
    }
    DicomPacsScu scu(m_configuration);
    scu.addPresentationContext(UID_MOVEStudyRootQueryRetrieveInformationModel, uncompressedSyntaxes());
    if (!connect(scu, m_configuration, "C-MOVE", report))
        return false;
    const T_ASC_PresentationContextID presId =
        acceptedContext(scu, UID_MOVEStudyRootQueryRetrieveInformationModel, "C-MOVE", report);
    if (presId == 0)
        return false;
    OFList<RetrieveResponse*> responses;
    cond = scu.sendMOVERequest(presId, m_configuration.ownAeTitle.c_str(), &keys, &responses);
    const bool ok = cond.good() && retrieveSucceeded(responses);
    closeAssociation(scu, cond.good());
    receiver.stop();
    if (cond.bad())
        report(Dicom::Error::NetworkError, std::string("C-MOVE failed: ") + cond.text());
    else if (!ok)
        report(Dicom::Error::NetworkError, describeRetrieveStatus("C-MOVE", responses));
    deleteResponses(responses);
    auto received = receiver.takeDatasets();
    if (m_countHandler)
        m_countHandler(received.size());
    for (auto& dataset : received)
        if (callback)
            callback(std::move(dataset));
    return ok;
}

bool DicomPacsCommunication::sendStoreRequest(const std::vector<std::shared_ptr<DcmDataset>>& datasets)
{
    auto report = [this](Dicom::Error::Code code, const std::string& text) { reportError(code, text); };
    if (!m_configuration.isValid()) {
        report(Dicom::Error::InvalidValue, "C-STORE: the PACS configuration is not valid");
        return false;
    }
    if (datasets.empty())
        return true;
    Dicom::Utils::registerCodecs();  // a dataset may need decompressing for the accepted syntax

    std::map<std::string, std::set<std::string>> syntaxesByClass;
    for (const auto& dataset : datasets) {
        OFString sopClass;
        if (!dataset || dataset->findAndGetOFString(DCM_SOPClassUID, sopClass).bad() || sopClass.empty())
            continue;
        const DcmXfer xfer(dataset->getOriginalXfer());
        auto& syntaxes = syntaxesByClass[sopClass.c_str()];
        if (xfer.getXfer() != EXS_Unknown && xfer.isEncapsulated())
            syntaxes.insert(xfer.getXferID());
    }
    DicomPacsScu scu(m_configuration);
    scu.setDatasetConversionMode(OFTrue);
    int contexts = 0;
    for (const auto& [sopClass, syntaxes] : syntaxesByClass) {
        for (const auto& syntax : syntaxes)
            if (contexts++ < 128)
                scu.addPresentationContext(sopClass.c_str(), syntaxList({syntax.c_str()}));
        if (contexts++ < 128)
            scu.addPresentationContext(sopClass.c_str(), uncompressedSyntaxes());
    }
    if (!connect(scu, m_configuration, "C-STORE", report))
        return false;

    size_t failures = 0;
    bool connectionLost = false;
    for (const auto& dataset : datasets) {
        OFString sopClass, sopInstance;
        if (!dataset || dataset->findAndGetOFString(DCM_SOPClassUID, sopClass).bad() ||
            dataset->findAndGetOFString(DCM_SOPInstanceUID, sopInstance).bad()) {
            ++failures;
            report(Dicom::Error::MissingValue, "C-STORE: a dataset has no SOP Class or SOP Instance UID");
            continue;
        }
        const DcmXfer xfer(dataset->getOriginalXfer());
        T_ASC_PresentationContextID presId = 0;
        if (xfer.getXfer() != EXS_Unknown)
            presId = scu.findPresentationContextID(sopClass, xfer.getXferID());
        if (presId == 0)
            presId = scu.findAnyPresentationContextID(sopClass, "");
        if (presId == 0) {
            ++failures;
            report(Dicom::Error::NotSupported,
                   "C-STORE: the server accepts no transfer syntax for " + std::string(sopInstance.c_str()));
            continue;
        }
        Uint16 status = 0;
        const OFCondition cond = scu.sendSTORERequest(presId, "", dataset.get(), status);
        if (cond.bad()) {
            ++failures;
            report(Dicom::Error::NetworkError,
                   "C-STORE of " + std::string(sopInstance.c_str()) + " failed: " + cond.text());
            if (!scu.isConnected()) {
                connectionLost = true;
                break;
            }
        } else if (status != STATUS_Success && (status & 0xF000) != 0xB000) {
            ++failures;
            report(Dicom::Error::NetworkError,
                   "C-STORE of " + std::string(sopInstance.c_str()) + " failed with status " + hex(status));
        }
    }
    closeAssociation(scu, !connectionLost);
    return failures == 0 && !connectionLost;
}

}  // namespace Dravelin
