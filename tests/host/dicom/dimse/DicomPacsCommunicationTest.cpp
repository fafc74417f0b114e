#include "host/dicom/DatasetCache.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/dicom/dimse/PacsRetriever.h"
#include "host/dicom/io/DicomVolumeReader.h"
#include "tests/host/dicom/TestSeries.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>

using namespace Dravelin;
using Test::PacsTestServer;

namespace {

const char* const BrainStudy = "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.1";
const char* const PilotSeries = "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.17";
const char* const PilotInstance = "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.19";

DcmDataset studyQuery(const std::string& patientName = {})
{
    DcmDataset query;
    query.putAndInsertString(DCM_QueryRetrieveLevel, "STUDY");
    query.insertEmptyElement(DCM_StudyInstanceUID);
    query.insertEmptyElement(DCM_PatientID);
    query.putAndInsertString(DCM_PatientName, patientName.c_str());
    return query;
}

DcmDataset imageQuery(const char* study, const char* series)
{
    DcmDataset query;
    query.putAndInsertString(DCM_QueryRetrieveLevel, "IMAGE");
    query.putAndInsertString(DCM_StudyInstanceUID, study);
    query.putAndInsertString(DCM_SeriesInstanceUID, series);
    query.insertEmptyElement(DCM_SOPInstanceUID);
    query.insertEmptyElement(DCM_SOPClassUID);
    query.insertEmptyElement(DCM_InstanceNumber);
    return query;
}

// Records what reaches the error handler.
struct ErrorLog
{
    std::vector<Dicom::Error> errors;
    DicomPacsCommunication::ErrorHandler handler()
    {
        return [this](const Dicom::Error& e) { errors.push_back(e); };
    }
};

// One real server with the corpus loaded, per test process.
class PacsServerTest : public ::testing::TestWithParam<PacsTestServer::Kind>
{
protected:
    void SetUp() override
    {
        server = std::make_unique<PacsTestServer>(GetParam());
        ASSERT_TRUE(server->startWithCorpus()) << server->errorText().toStdString();
    }

    DicomPacsConfiguration config(bool useCGet = true) const { return server->clientConfiguration(useCGet); }

    std::unique_ptr<PacsTestServer> server;
};

// Readable parameter values in test names.
std::string kindName(const ::testing::TestParamInfo<PacsTestServer::Kind>& info)
{
    return info.param == PacsTestServer::Kind::Orthanc ? "Orthanc" : "Dcmqrscp";
}

}  // namespace

TEST_P(PacsServerTest, SearchesDeliverEveryAnswerOnTheCallingThreadUntilAborted)
{
    DicomPacsCommunication pacs(config());
    ErrorLog log;
    pacs.setErrorHandler(log.handler());
    EXPECT_TRUE(pacs.sendEchoRequest());

    std::set<std::string> studies;
    std::string brainPatient;
    bool otherThread = false;
    const auto caller = std::this_thread::get_id();
    EXPECT_TRUE(pacs.sendFindRequest(DicomPacsCommunication::StudyRoot, studyQuery(),
                                     [&](std::unique_ptr<DcmDataset> response) {
                                         otherThread |= std::this_thread::get_id() != caller;
                                         const std::string uid = Dravelin::Test::text(*response, DCM_StudyInstanceUID);
                                         studies.insert(uid);
                                         if (uid == BrainStudy)
                                             brainPatient = Dravelin::Test::text(*response, DCM_PatientName);
                                     }));
    EXPECT_FALSE(otherThread);
    EXPECT_EQ(studies.size(), 9u);
    EXPECT_EQ(brainPatient, "Doe^Peter");

    // A wildcard is passed through as typed: dcmqrscp matches case-sensitively.
    int doe = 0;
    pacs.sendFindRequest(DicomPacsCommunication::StudyRoot, studyQuery("Doe*"),
                         [&](std::unique_ptr<DcmDataset>) { ++doe; });
    EXPECT_EQ(doe, 6);

    std::set<std::string> instances;
    pacs.sendFindRequest(
        DicomPacsCommunication::StudyRoot, imageQuery(BrainStudy, PilotSeries),
        [&](std::unique_ptr<DcmDataset> r) { instances.insert(Dravelin::Test::text(*r, DCM_SOPInstanceUID)); });
    EXPECT_EQ(instances.size(), 3u);
    EXPECT_TRUE(instances.count(PilotInstance));

    // Set during the first response: nothing more is delivered, the association is reused
    // cleanly afterwards and no error is reported.
    std::atomic<bool> abort{false};
    int delivered = 0;
    EXPECT_TRUE(pacs.sendFindRequest(
        DicomPacsCommunication::StudyRoot, studyQuery(),
        [&](std::unique_ptr<DcmDataset>) {
            ++delivered;
            abort = true;
        },
        &abort));
    EXPECT_EQ(delivered, 1);
    EXPECT_TRUE(log.errors.empty());
    EXPECT_TRUE(pacs.sendEchoRequest());
}

TEST_P(PacsServerTest, RetrievesSeriesByGetAndStudyByMove)
{
    ErrorLog log;
    Dicom::PacsRetriever retriever(log.handler());
    DcmDataset response;
    response.putAndInsertString(DCM_StudyInstanceUID, BrainStudy);
    response.putAndInsertString(DCM_SeriesInstanceUID, PilotSeries);

    std::vector<std::string> locations;
    auto series = retriever.retrieve(config(true).generateUri(response), &locations);
    ASSERT_EQ(series.size(), 3u);
    ASSERT_EQ(locations.size(), 3u);
    Sint32 previous = -1;
    for (size_t i = 0; i < series.size(); ++i) {
        Sint32 number = 0;
        series[i]->findAndGetSint32(DCM_InstanceNumber, number);
        EXPECT_GT(number, previous);
        previous = number;
        EXPECT_TRUE(series[i]->tagExists(DCM_PixelData));
        EXPECT_EQ(Dravelin::Test::text(*series[i], DCM_SeriesInstanceUID), PilotSeries);
        const auto target = Dicom::PacsRetriever::targetOf(Filesystem::Url(locations[i]));
        ASSERT_TRUE(target);
        EXPECT_EQ(target->sopInstanceUid, Dravelin::Test::text(*series[i], DCM_SOPInstanceUID));
    }

    // A header-only load keeps no pixel data.
    const auto headers = retriever.retrieve(config(true).generateUri(response), nullptr, nullptr, false);
    ASSERT_EQ(headers.size(), 3u);
    for (const auto& dataset : headers)
        EXPECT_FALSE(dataset->tagExists(DCM_PixelData));

    // One instance, by the location a C-FIND response gives.
    response.putAndInsertString(DCM_SOPInstanceUID, PilotInstance);
    auto one = retriever.retrieve(config(true).generateUri(response));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(Dravelin::Test::text(*one[0], DCM_SOPInstanceUID), PilotInstance);

    DcmDataset study;
    study.putAndInsertString(DCM_StudyInstanceUID, BrainStudy);
    auto moved = retriever.retrieve(config(false).generateUri(study));
    EXPECT_EQ(moved.size(), 11u);
    EXPECT_TRUE(log.errors.empty()) << log.errors.front().message;
}

// Stored out of order, with instance numbers that disagree with the positions: the retrieved
// volume must equal the one read from the files, and the pixels must be held by the volume
// alone (the datasets keep their headers).
TEST_P(PacsServerTest, RetrievedSeriesLoadsAsItsFilesWithPixelsOnlyInTheVolume)
{
    Dravelin::Test::TempDir dir;
    const std::string seriesUid = "1.2.826.0.1.3680043.2.1143.9.34";
    const int instanceAt[] = {4, 1, 6, 2, 5, 3};  // by position
    QStringList files;
    for (int k : {3, 0, 5, 1, 4, 2}) {
        Dravelin::Test::SliceFields fields;
        fields.seriesUid = seriesUid;
        fields.position = {0, 0, 2.5 * k};
        fields.instanceNumber = instanceAt[k];
        files << dir.file(QString("i%1.dcm").arg(k));
        ASSERT_TRUE(Dravelin::Test::writeSlice(files.back(), fields));
    }
    ASSERT_EQ(server->store(files), 6);

    auto read = [](const std::string& location, std::vector<Dicom::Error>& errors) {
        Dicom::DicomVolumeReader reader(std::make_shared<Dicom::DatasetCache>(0));
        auto sets = reader.read(location, nullptr);
        errors = reader.errors();
        return sets;
    };
    DcmDataset series;
    series.putAndInsertString(DCM_StudyInstanceUID, "1.2.826.0.1.3680043.2.1143.9");
    series.putAndInsertString(DCM_SeriesInstanceUID, seriesUid.c_str());
    std::vector<Dicom::Error> pacsErrors, fileErrors;
    const auto retrieved = read(config(true).generateUri(series).string(Filesystem::Url::LoaderEncoded), pacsErrors);
    const auto local = read(dir.path().toStdString(), fileErrors);
    EXPECT_TRUE(pacsErrors.empty()) << pacsErrors.front().message;
    ASSERT_EQ(retrieved.size(), 1u);
    ASSERT_EQ(local.size(), 1u);
    const Dicom::PixelVolume& volume = retrieved[0].volumes.at(0);
    const Dicom::PixelVolume& expected = local[0].volumes.at(0);
    ASSERT_EQ(volume.slices, 6);
    ASSERT_EQ(volume.byteSize(), expected.byteSize());
    EXPECT_EQ(std::memcmp(volume.data(), expected.data(), volume.byteSize()), 0);
    EXPECT_EQ(volume.imageToWorld, expected.imageToWorld);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(volume.storedValue(std::size_t(k) * 16 * 12), 10 * instanceAt[k]) << "slice " << k;
    ASSERT_EQ(retrieved[0].datasets.size(), 6u);
    for (const auto& dataset : retrieved[0].datasets)
        EXPECT_FALSE(dataset->tagExists(DCM_PixelData));
}

INSTANTIATE_TEST_SUITE_P(RealServers, PacsServerTest,
                         ::testing::Values(PacsTestServer::Kind::Orthanc, PacsTestServer::Kind::Dcmqrscp), kindName);

TEST(PacsDatasetCache, LoadsPacsLocationsByGetAndByMove)
{
    PacsTestServer server(PacsTestServer::Kind::Orthanc);
    ASSERT_TRUE(server.startWithCorpus()) << server.errorText().toStdString();
    Dicom::DatasetCache cache(64);
    std::vector<Dicom::Error> errors;
    cache.addErrorCallback([&](const Dicom::Error& e) { errors.push_back(e); });

    DcmDataset response;
    response.putAndInsertString(DCM_StudyInstanceUID, BrainStudy);
    response.putAndInsertString(DCM_SeriesInstanceUID, PilotSeries);
    response.putAndInsertString(DCM_SOPInstanceUID, PilotInstance);
    for (bool useCGet : {true, false}) {
        const Filesystem::Url location(
            server.clientConfiguration(useCGet).generateUri(response).string(Filesystem::Url::LoaderEncoded));
        std::vector<std::string> names;
        const auto one = cache.load(location, &names, nullptr, true);
        ASSERT_EQ(one.size(), 1u) << (useCGet ? "C-GET" : "C-MOVE");
        EXPECT_EQ(Dravelin::Test::text(*one[0], DCM_SOPInstanceUID), PilotInstance);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(Dicom::PacsRetriever::targetOf(Filesystem::Url(names[0]))->sopInstanceUid, PilotInstance);
        EXPECT_EQ(cache.load(Dicom::PacsRetriever::seriesUrlOf(location), nullptr, nullptr, true).size(), 3u);
    }
    EXPECT_TRUE(errors.empty());

    server.stop();
    DicomPacsConfiguration gone("127.0.0.1", server.port(), server.options().aeTitle, true);
    EXPECT_TRUE(cache.load(gone.generateUri(response), nullptr, nullptr, true).empty());
    EXPECT_EQ(errors.size(), 1u);
}
