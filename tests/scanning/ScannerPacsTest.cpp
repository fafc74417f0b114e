#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "scanning/Image.h"
#include "scanning/PacsSeriesProxy.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"
#include "tests/scanning/TestDatasets.h"
#include "tests/support/PacsTestServer.h"

#include <gtest/gtest.h>

using namespace Dravelin;

namespace {

const char* const BrainStudy = "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.1";

// Cancels the scan when the first image arrives, as the browser's cancel button would.
class CancellingScanner : public Dicom::Scanner
{
public:
    using Dicom::Scanner::Scanner;
    bool cancelOnImage = false;
    void addPatient(Dicom::Patient* patient) override
    {
        if (cancelOnImage && !patient->studies.front()->series.empty())
            cancel();
        Dicom::Scanner::addPatient(patient);
    }
};

class ScannerPacs : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new Dravelin::Test::PacsTestServer(Dravelin::Test::PacsTestServer::Kind::Orthanc);
        ASSERT_TRUE(server->startWithCorpus()) << server->errorText().toStdString();
    }
    static void TearDownTestSuite() { delete server; }

    DicomPacsConfiguration config() const { return server->clientConfiguration(); }

    static Dravelin::Test::PacsTestServer* server;
};

Dravelin::Test::PacsTestServer* ScannerPacs::server = nullptr;

}  // namespace

// The study search and its resolution, compared with the files on disk, are the pacs-find
// command's end-to-end case; here what that comparison of UIDs cannot see.
TEST_F(ScannerPacs, ResolvedSeriesKeepTheirValuesAndResolveOnce)
{
    DicomPacsCommunication pacs(config());
    Dicom::Scanner scanner(std::make_shared<Dicom::DatasetCache>(16));
    scanner.setPacs(&pacs);
    scanner.scanPacs(QStringLiteral("Doe*"), QString());
    Dicom::Study* brain = Dravelin::Test::findStudy(scanner.patients(), BrainStudy);
    ASSERT_NE(brain, nullptr);
    scanner.scanPacsSeries(brain->pacsSeriesProxy);
    EXPECT_EQ(brain->pacsSeriesProxy, nullptr);
    ASSERT_EQ(brain->series.size(), 3u);
    for (auto* series : brain->series) {
        // The resolved tree is built from copies of the answers: their values must survive.
        EXPECT_FALSE(series->seriesNumber.isEmpty()) << series->seriesInstanceUid.toStdString();
        EXPECT_FALSE(series->modality.isEmpty()) << series->seriesInstanceUid.toStdString();
    }

    // Resolving again (the study pointer cleared) logs and changes nothing.
    Dicom::PacsSeriesProxy resolved(nullptr);
    LogCapture log;
    scanner.scanPacsSeries(&resolved);
    EXPECT_TRUE(log.contains("PacsSeriesProxy has been already resolved", 3));
    EXPECT_EQ(brain->series.size(), 3u);
}

TEST_F(ScannerPacs, CancelKeepsPlaceholderAndNoConnectionIsLogged)
{
    DicomPacsCommunication pacs(config());
    CancellingScanner scanner(std::make_shared<Dicom::DatasetCache>(16));
    {
        LogCapture log;
        scanner.scanPacs(QString(), QString());
        EXPECT_TRUE(log.contains("Please call setPacs with a valid DicomPacsCommunication before scanPacs", 4));
    }
    scanner.setPacs(&pacs);
    scanner.scanPacs(QStringLiteral("Doe^Peter"), QString());
    Dicom::Study* brain = Dravelin::Test::findStudy(scanner.patients(), BrainStudy);
    ASSERT_NE(brain, nullptr);
    scanner.cancelOnImage = true;
    scanner.scanPacsSeries(brain->pacsSeriesProxy);
    EXPECT_NE(brain->pacsSeriesProxy, nullptr);  // can be resolved again later
    size_t images = 0;
    for (auto* series : brain->series)
        images += series->images.size();
    EXPECT_LT(images, 11u);
}
