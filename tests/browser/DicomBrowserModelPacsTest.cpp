#include "browser/models/DicomBrowserModel.h"
#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"
#include "tests/scanning/TestDatasets.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <thread>

#include <atomic>

using namespace Dravelin;
using namespace Dravelin::Dicom;
namespace DT = Dravelin::Test;

namespace {

const char* const BrainStudy = "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.1";

class ModelPacs : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new DT::PacsTestServer(DT::PacsTestServer::Kind::Orthanc);
        ASSERT_TRUE(server->startWithCorpus()) << server->errorText().toStdString();
    }
    static void TearDownTestSuite() { delete server; }

    static DicomPacsConfiguration config() { return server->clientConfiguration(); }

    static DT::PacsTestServer* server;
};

DT::PacsTestServer* ModelPacs::server = nullptr;

}  // namespace

TEST_F(ModelPacs, AsyncPlaceholderRetrievalReplacesTheRowAndLocationsLoadBack)
{
    DicomBrowserModel model(nullptr);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    model.scanPacsAsync(config(), QStringLiteral("Doe*"), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return scanning.size() == 2; }, 60000));
    EXPECT_FALSE(model.isScanning());
    EXPECT_EQ(model.patients().size(), 2u);
    Study* brain = DT::findStudy(model.patients(), BrainStudy);
    ASSERT_NE(brain, nullptr);
    ASSERT_NE(brain->pacsSeriesProxy, nullptr);
    const QModelIndex studyIndex = model.index(brain);
    EXPECT_EQ(model.rowCount(studyIndex), 1);  // the "..." row

    LogCapture log;
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.getPacsSeriesAsync(brain->pacsSeriesProxy);
    // Pending retrievals block new scans.
    model.scanPacsAsync(config(), QStringLiteral("Doe*"), QString());
    EXPECT_TRUE(log.contains("Scanner is already running", 4));
    ASSERT_TRUE(QTest::qWaitFor([&] { return brain->pacsSeriesProxy == nullptr && brain->series.size() == 3; }, 60000));
    EXPECT_EQ(model.rowCount(studyIndex), 3);
    EXPECT_EQ(removed.size(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.contains("Finished getting series proxy", 0); }, 10000));
    EXPECT_TRUE(model.cancelScan());

    // Each series' location names the whole series on the server.
    auto cache = std::make_shared<DatasetCache>(64);
    for (Series* series : brain->series) {
        const std::string location = DicomBrowserModel::retrieveLocationString({series}, true);
        ASSERT_EQ(location.rfind("pacs://", 0), 0u) << location;
        if (series->images.size() > 1) {
            EXPECT_EQ(location.find("instance="), std::string::npos) << location;
        }
        std::vector<std::string> names;
        const auto datasets = cache->load(Filesystem::Url(location), &names, nullptr, false);
        EXPECT_EQ(datasets.size(), series->images.size()) << location;
    }
}

TEST_F(ModelPacs, UnreachableServerIsLoggedAndTheScanEnds)
{
    DicomPacsConfiguration dead("127.0.0.1", DT::freeLoopbackPort(), "NOBODY", true);
    dead.connectTimeoutSeconds = 2;
    DicomBrowserModel model(nullptr);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    LogCapture log;
    model.scanPacsAsync(dead, QString(), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return scanning.size() == 2; }, 30000));
    EXPECT_TRUE(model.patients().empty());
    bool errorLogged = false;
    for (const auto& e : log.entries())
        errorLogged = errorLogged || (e.level == 4 && e.channel == "DICOM");
    EXPECT_TRUE(errorLogged);
}

TEST(ModelPacsRetrieval, MergingDuringARetrievalDoesNotWaitForIt)
{
    // Takes every connection and never answers: the scan and the retrieval stay under way until it goes.
    auto silent = std::make_unique<DT::HttpTestServer>([](const DT::HttpTestServer::Request&) {
        return DT::HttpTestServer::Reply{200, {}, {}, DT::HttpTestServer::Reply::Mode::Silent};
    });
    DicomPacsConfiguration pacs("127.0.0.1", silent->port(), "SILENT", true);
    pacs.connectTimeoutSeconds = pacs.dimseTimeoutSeconds = 600;
    DicomBrowserModel model(nullptr);
    model.scanPacsAsync(pacs, QString(), QString());
    DcmDataset record;
    record.putAndInsertString(DCM_StudyInstanceUID, "1.2.3");
    auto* patient = new Patient(record, false);
    patient->studies.push_back(new Study(patient, record, false));
    patient->studies[0]->pacsSeriesProxy = new PacsSeriesProxy(patient->studies[0]);
    model.addPatient(patient);
    model.getPacsSeriesAsync(patient->studies[0]->pacsSeriesProxy);

    std::atomic<bool> returned{false}, released{false};
    std::thread hangGuard([&] {
        for (int i = 0; i < 30000 && !returned; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!returned && !released.exchange(true))
            silent.reset();
    });
    // What the model runs whenever a retrieved patient arrives.
    QMetaObject::invokeMethod(&model, "processPatientsFromMainthread", Qt::DirectConnection);
    EXPECT_FALSE(released) << "waited for the retrieval";
    returned = true;
    hangGuard.join();
    silent.reset();  // ends the scan and the retrieval before the model goes
}
