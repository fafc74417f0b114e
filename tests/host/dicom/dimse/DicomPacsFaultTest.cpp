#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/dicom/dimse/PacsRetriever.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PacsTestServer.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scp.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace Dravelin;
using Test::HttpTestServer;
using Test::PacsTestServer;

namespace {

DcmDataset studyQuery()
{
    DcmDataset query;
    query.putAndInsertString(DCM_QueryRetrieveLevel, "STUDY");
    query.insertEmptyElement(DCM_StudyInstanceUID);
    return query;
}

DicomPacsConfiguration loopback(int port, const std::string& aeTitle = "ANY", int timeoutSeconds = 2)
{
    DicomPacsConfiguration config("127.0.0.1", port, aeTitle, true);
    config.ownAeTitle = "DRAVELINTEST";
    config.connectTimeoutSeconds = timeoutSeconds;
    config.dimseTimeoutSeconds = timeoutSeconds;
    return config;
}

// What one C-FIND gave: its result, the responses delivered and the errors reported.
struct FindOutcome
{
    bool result = false;
    int responses = 0;
    std::vector<Dicom::Error> errors;
};

FindOutcome find(const DicomPacsConfiguration& config)
{
    FindOutcome outcome;
    DicomPacsCommunication pacs(config);
    pacs.setErrorHandler([&](const Dicom::Error& e) { outcome.errors.push_back(e); });
    outcome.result = pacs.sendFindRequest(DicomPacsCommunication::StudyRoot, studyQuery(),
                                          [&](std::unique_ptr<DcmDataset>) { ++outcome.responses; });
    return outcome;
}

// Accepts TCP connections and never says a word.
HttpTestServer::Reply silence(const HttpTestServer::Request&)
{
    return HttpTestServer::Reply{200, {}, {}, HttpTestServer::Reply::Mode::Silent};
}

// A Q/R SCP that answers a C-FIND with one pending response and then drops the association,
// as a server that dies in the middle of a query does.
class DroppingPeer : public DcmSCP
{
public:
    DroppingPeer() : m_port(Dravelin::Test::freeLoopbackPort())
    {
        setAETitle("DROPPER");
        setPort(static_cast<Uint16>(m_port));
        setConnectionBlockingMode(DUL_NOBLOCK);
        setConnectionTimeout(1);
        OFList<OFString> syntaxes;
        syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
        syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
        addPresentationContext(UID_FINDStudyRootQueryRetrieveInformationModel, syntaxes);
        m_ready = openListenPort().good();
        m_thread = std::thread([this] { acceptAssociations(); });
    }
    ~DroppingPeer() override
    {
        m_stop = true;
        m_thread.join();
    }
    int port() const { return m_port; }
    bool ready() const { return m_ready; }

protected:
    OFCondition handleIncomingCommand(T_DIMSE_Message* msg, const DcmPresentationContextInfo& info) override
    {
        if (msg->CommandField != DIMSE_C_FIND_RQ)
            return DcmSCP::handleIncomingCommand(msg, info);
        DcmDataset* request = nullptr;
        receiveFINDRequest(msg->msg.CFindRQ, info.presentationContextID, request);
        delete request;
        DcmDataset response;
        response.putAndInsertString(DCM_QueryRetrieveLevel, "STUDY");
        response.putAndInsertString(DCM_StudyInstanceUID, "1.2.3");
        sendFINDResponse(info.presentationContextID, msg->msg.CFindRQ.MessageID, msg->msg.CFindRQ.AffectedSOPClassUID,
                         &response, STATUS_Pending);
        return DIMSE_BADDATA;  // makes the SCP abort the association
    }
    OFBool stopAfterConnectionTimeout() override { return m_stop.load(); }
    OFBool stopAfterCurrentAssociation() override { return m_stop.load(); }

private:
    int m_port;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace

TEST(DicomPacsFaults, ServerNotRunning)
{
    const FindOutcome outcome = find(loopback(Dravelin::Test::freeLoopbackPort()));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.responses, 0);
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_EQ(outcome.errors[0].code, Dicom::Error::NetworkError);
    EXPECT_NE(outcome.errors[0].message.find("C-FIND"), std::string::npos);

    // A retrieval of such a location reports through the same handler and gives nothing.
    int errors = 0;
    Dicom::PacsRetriever retriever([&](const Dicom::Error&) { ++errors; });
    DcmDataset response;
    response.putAndInsertString(DCM_StudyInstanceUID, "1.2.3");
    EXPECT_TRUE(retriever.retrieve(loopback(Dravelin::Test::freeLoopbackPort()).generateUri(response)).empty());
    EXPECT_EQ(errors, 1);
}

TEST(DicomPacsFaults, SilentServerTimesOut)
{
    HttpTestServer peer(silence);
    // Ends (the configured timeout is 2 s) with one network error instead of waiting forever.
    const FindOutcome outcome = find(loopback(peer.port(), "ANY", 2));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.responses, 0);
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_EQ(outcome.errors[0].code, Dicom::Error::NetworkError);
}

TEST(DicomPacsFaults, AssociationDroppedMidQuery)
{
    DroppingPeer peer;
    ASSERT_TRUE(peer.ready());
    const FindOutcome outcome = find(loopback(peer.port(), "DROPPER", 5));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.responses, 1);  // what arrived before the drop is kept
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_EQ(outcome.errors[0].code, Dicom::Error::NetworkError);
}

TEST(DicomPacsFaults, WrongCalledAeIsRejected)
{
    PacsTestServer server(PacsTestServer::Kind::Dcmqrscp);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    FindOutcome outcome = find(loopback(server.port(), "NOTTHEPACS"));
    EXPECT_FALSE(outcome.result);
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_NE(outcome.errors[0].message.find("NOTTHEPACS"), std::string::npos);

    // The server itself is fine: the right AE title works.
    outcome = find(loopback(server.port(), server.options().aeTitle));
    EXPECT_TRUE(outcome.result);
    EXPECT_TRUE(outcome.errors.empty());
}

TEST(DicomPacsFaults, UnknownCallingAeAndKilledServer)
{
    PacsTestServer server(PacsTestServer::Kind::Orthanc);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    DicomPacsConfiguration stranger = loopback(server.port(), server.options().aeTitle);
    stranger.ownAeTitle = "STRANGER";  // Orthanc aborts the association at the query
    FindOutcome outcome = find(stranger);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.errors.size(), 1u);

    const DicomPacsConfiguration known = loopback(server.port(), server.options().aeTitle);
    EXPECT_TRUE(find(known).result);
    server.stop();  // SIGKILL
    outcome = find(known);
    EXPECT_FALSE(outcome.result);
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_EQ(outcome.errors[0].code, Dicom::Error::NetworkError);
}

TEST(DicomPacsFaults, MoveWithOwnPortTakenReportsIt)
{
    PacsTestServer server(PacsTestServer::Kind::Orthanc);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    HttpTestServer squatter(silence);  // holds the port our storage SCP would listen on
    DicomPacsConfiguration config = loopback(server.port(), server.options().aeTitle);
    config.useCGet = false;
    config.ownPort = squatter.port();
    DicomPacsCommunication pacs(config);
    std::vector<Dicom::Error> errors;
    pacs.setErrorHandler([&](const Dicom::Error& e) { errors.push_back(e); });
    int received = 0;
    EXPECT_FALSE(pacs.retrieve(DicomPacsCommunication::Level::Study, "1.2.3", "", "",
                               [&](std::unique_ptr<DcmDataset>) { ++received; }));
    EXPECT_EQ(received, 0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].message.find(std::to_string(squatter.port())), std::string::npos);
}

// Without a usable server nothing is sent, and no request may look successful.
TEST(DicomPacsFaults, InvalidConfigurationFailsEveryRequest)
{
    std::vector<Dicom::Error> errors;
    DicomPacsCommunication pacs{DicomPacsConfiguration()};
    pacs.setErrorHandler([&](const Dicom::Error& e) { errors.push_back(e); });
    auto dataset = std::make_shared<DcmDataset>();
    dataset->putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    EXPECT_FALSE(pacs.sendEchoRequest());
    EXPECT_FALSE(pacs.sendFindRequest(DicomPacsCommunication::StudyRoot, studyQuery(), {}));
    EXPECT_FALSE(pacs.sendStoreRequest({dataset}));
    ASSERT_EQ(errors.size(), 3u);
    for (const Dicom::Error& e : errors)
        EXPECT_EQ(e.code, Dicom::Error::InvalidValue) << e.message;
}
