#include "browser/models/DicomBrowserModel.h"
#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"
#include "scanning/ScannerQt.h"
#include "tests/scanning/ScannerTestFiles.h"
#include "tests/browser/SlowDatasetCache.h"
#include "tests/scanning/TestDatasets.h"
#include "tests/support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using namespace Dravelin;
using namespace Dravelin::Dicom;
namespace DT = Dravelin::Test;
using namespace std::chrono_literals;

namespace {

// A folder of generated data: P patients x 1 study x R series x N images.
QString generatedFolder(DT::TempDir& dir, int patients, int series, int images)
{
    const QString path = dir.file("data");
    const bool ok =
        DT::runGenerator({"folder", path, "--patients", QString::number(patients), "--studies", "1", "--series",
                          QString::number(series), "--images", QString::number(images), "--size", "16"});
    return ok ? path : QString();
}

int imageCount(const DicomBrowserModel& model)
{
    return DT::imageCount(model.patients());
}

std::vector<bool> boolArguments(const QSignalSpy& spy)
{
    std::vector<bool> result;
    for (const auto& args : spy)
        result.push_back(args.at(0).toBool());
    return result;
}

// Waits (running the event loop) until the model reports the end of its scan.
bool waitForIdle(DicomBrowserModel& model, QSignalSpy& scanning, int timeoutMs = 60000)
{
    return QTest::qWaitFor(
        [&] { return !model.isScanning() && !scanning.isEmpty() && !scanning.last().at(0).toBool(); }, timeoutMs);
}

// Every header load of a dimension update goes through DatasetCache::load: holding or failing
// it there steers the update without touching the scan.
using DT::SlowDatasetCache;

class ModelScan : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new DT::TempDir;
        folder = generatedFolder(*dir, 2, 3, 4);  // 6 series, 24 images
    }
    static void TearDownTestSuite() { delete dir; }

    static inline DT::TempDir* dir = nullptr;
    static inline QString folder;
};

}  // namespace

TEST_F(ModelScan, AsyncScanAnnouncesStartOnceAndEndOnceAfterTheLastMerge)
{
    ASSERT_FALSE(folder.isEmpty());
    DicomBrowserModel model(nullptr);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    int imagesAtEnd = -1;
    QObject::connect(&model, &DicomBrowserModel::isScanningChanged, [&](bool on) {
        if (!on)
            imagesAtEnd = imageCount(model);
    });
    model.scanDirectoryAsync(folder, true, false, true);
    EXPECT_TRUE(model.isScanning());
    EXPECT_FALSE(model.scanCompleted());
    ASSERT_TRUE(waitForIdle(model, scanning));
    QTest::qWait(50);  // nothing may follow
    EXPECT_EQ(boolArguments(scanning), (std::vector<bool>{true, false}));
    EXPECT_EQ(imagesAtEnd, 24);
    EXPECT_TRUE(model.scanCompleted());
    EXPECT_EQ(DT::allSeries(model.patients()).size(), 6u);
}

TEST_F(ModelScan, SecondScanWhileBusyIsRejectedAndChangesNothing)
{
    DicomBrowserModel model(nullptr);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    LogCapture log;
    // The first scan waits until the other two were tried, however fast it would be.
    std::promise<void> gate;
    model.scanAsync(nullptr, [dir = folder, tried = gate.get_future().share()](ScannerQt& s) {
        tried.wait();
        s.scanDirectory(dir, true, false, true);
    });
    model.scanDirectoryAsync(folder, true, false, true);
    model.scanDicomDirBlocking(folder + "/DICOMDIR");
    gate.set_value();
    EXPECT_EQ(log.count("Scanner is already running", 4), 2);
    ASSERT_TRUE(waitForIdle(model, scanning));
    EXPECT_EQ(boolArguments(scanning), (std::vector<bool>{true, false}));
    EXPECT_EQ(imageCount(model), 24);

    // Once idle a new scan is accepted again.
    model.clear();
    model.scanDirectoryBlocking(folder, true, false, true);
    EXPECT_EQ(imageCount(model), 24);
}

TEST_F(ModelScan, DimensionUpdateReportsProgressPerSeriesThenEnds)
{
    DicomBrowserModel model(nullptr);
    model.setUpdateSeriesDimensionsAfterScan(true);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    QSignalSpy range(&model, &DicomBrowserModel::scanProgressRangeChanged);
    QSignalSpy text(&model, &DicomBrowserModel::scanProgressTextChanged);
    QSignalSpy value(&model, &DicomBrowserModel::scanProgressValueChanged);
    std::vector<int> valuesAtEnd;
    QObject::connect(&model, &DicomBrowserModel::isScanningChanged, [&](bool on) {
        if (!on)
            for (const auto& args : value)
                valuesAtEnd.push_back(args.at(0).toInt());
    });
    model.scanDirectoryAsync(folder, true, false, true);
    ASSERT_TRUE(waitForIdle(model, scanning));
    EXPECT_EQ(boolArguments(scanning), (std::vector<bool>{true, false}));
    ASSERT_FALSE(text.isEmpty());
    EXPECT_EQ(text.last().at(0).toString(), "Determining series kinds...");
    // The scanner's own queued progress may still arrive after the update has begun.
    bool seriesRange = false;
    for (const auto& args : range)
        seriesRange = seriesRange || (args.at(0).toInt() == 0 && args.at(1).toInt() == 6);
    EXPECT_TRUE(seriesRange);
    ASSERT_GE(valuesAtEnd.size(), 6u);
    EXPECT_EQ(std::vector<int>(valuesAtEnd.end() - 6, valuesAtEnd.end()), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    for (const Series* r : DT::allSeries(model.patients())) {
        ASSERT_EQ(r->dimensions.size(), 1u);
        EXPECT_EQ(r->dimensions[0].slices, 4);
    }
}

TEST_F(ModelScan, BlockingScanUpdatesDimensionsAndSurvivesAFailingLoader)
{
    auto cache = std::make_shared<SlowDatasetCache>();
    cache->open();
    DicomBrowserModel model(cache);
    model.setUpdateSeriesDimensionsAfterScan(true);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    cache->fail = true;
    LogCapture log;
    model.scanDirectoryBlocking(folder, true, false, true);
    EXPECT_EQ(boolArguments(scanning), (std::vector<bool>{true, false}));
    EXPECT_FALSE(model.isScanning());
    // Every series was tried although each one threw.
    EXPECT_EQ(log.count("disk on fire", 4), 6);
    EXPECT_EQ(cache->startedTotal(), 6);

    cache->fail = false;
    model.clear();
    model.scanDirectoryBlocking(folder, true, false, true);
    EXPECT_EQ(model.patients().front()->studies.front()->series.front()->dimensions.size(), 1u);
}

TEST_F(ModelScan, DimensionUpdateStoresItsResultsOnTheGuiThread)
{
    auto cache = std::make_shared<SlowDatasetCache>();
    DicomBrowserModel model(cache);
    SlowDatasetCache::OpenOnExit openOnExit{*cache};
    model.scanDirectoryBlocking(folder, true, false, true);
    Series* first = model.patients().front()->studies.front()->series.front();
    first->dimensions = {DimensionsInfo{5, 1, 1, 1, {1, 1, 1}, false}};  // what the views show so far
    model.updateSeriesDimensionsAsync();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cache->startedTotal() >= 1; }, 60000));
    // The worker is reading the first series' files: the series itself is untouched.
    ASSERT_EQ(first->dimensions.size(), 1u);
    EXPECT_EQ(first->dimensions[0].kind, 5);
    cache->open();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return first->dimensions.size() == 1 && first->dimensions[0].slices == 4; }, 60000));
}

TEST_F(ModelScan, CancelDuringDimensionUpdateStopsItForGood)
{
    auto cache = std::make_shared<SlowDatasetCache>();
    DicomBrowserModel model(cache);
    SlowDatasetCache::OpenOnExit openOnExit{*cache};
    model.setUpdateSeriesDimensionsAfterScan(true);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    QSignalSpy text(&model, &DicomBrowserModel::scanProgressTextChanged);
    LogCapture log;
    model.scanDirectoryAsync(folder, true, false, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return cache->startedTotal() >= 1; }, 60000));
    EXPECT_TRUE(model.isScanning());
    // The cancel waits for the update, which waits for its held load: let it go once asked to stop.
    std::thread opener([&] {
        while (!log.contains("Cancelling updating series kinds.", 1))
            std::this_thread::sleep_for(1ms);
        cache->open();
    });
    EXPECT_TRUE(model.cancelScan(2000ms));
    opener.join();
    EXPECT_FALSE(model.isScanning());
    EXPECT_TRUE(log.contains("Updating series kinds cancelled", 1));
    QCoreApplication::processEvents();
    EXPECT_EQ(cache->startedTotal(), 4);  // the first series' four images only, and not started again
    EXPECT_EQ(boolArguments(scanning), (std::vector<bool>{true, false}));
    EXPECT_FALSE(log.contains("Updating series kinds finished"));
}

TEST_F(ModelScan, CancelDuringScanMergesWhatWasFoundAndEnds)
{
    DicomBrowserModel model(nullptr);
    model.setUpdateSeriesDimensionsAfterScan(true);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    LogCapture log;
    // The scan has found the folder's images and is still running when the cancel comes.
    std::promise<void> scanned;
    std::promise<void> cancelling;
    model.scanAsync(nullptr, [&scanned, dir = folder, cancelled = cancelling.get_future().share()](ScannerQt& s) {
        s.scanDirectory(dir, true, false, true);
        scanned.set_value();
        cancelled.wait();
    });
    scanned.get_future().wait();
    cancelling.set_value();
    EXPECT_TRUE(model.cancelScan(10000ms));
    EXPECT_FALSE(model.isScanning());
    EXPECT_EQ(imageCount(model), 24);
    QCoreApplication::processEvents();
    EXPECT_EQ(boolArguments(scanning), (std::vector<bool>{true, false}));
    // A cancelled scan starts no dimension update.
    EXPECT_FALSE(log.contains("Starting updating series kinds"));
    EXPECT_FALSE(log.contains("Could not cancel"));
}

// A backlog larger than one merge slice is merged over several turns of the event loop, and the
// scan ends only when all of it is in.
TEST(ModelScanEdges, BacklogOfManyPatientsIsMergedWhole)
{
    // One directory of patient records: far more than one slice merges on any machine.
    constexpr int patients = 8000;
    std::vector<DT::RecordFields> records(patients);
    for (int i = 0; i < patients; ++i)
        records[std::size_t(i)].values = {{DCM_PatientID, "P" + std::to_string(i)}};
    DT::TempDir dir;
    const QString path = dir.file("DICOMDIR");
    ASSERT_TRUE(DT::writeDicomDir(path, records));
    DicomBrowserModel model(nullptr);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    std::promise<void> scanned;
    model.scanAsync(nullptr, [&scanned, path](ScannerQt& s) {
        s.scanDicomDir(path);
        scanned.set_value();
    });
    scanned.get_future().wait();  // all of it waits for the GUI thread at once
    ASSERT_TRUE(waitForIdle(model, scanning));
    EXPECT_EQ(model.patients().size(), std::size_t(patients));
}

TEST(ModelScanEdges, ThrowingScanFunctionIsLoggedAndEndsTheScan)
{
    DicomBrowserModel model(nullptr);
    QSignalSpy scanning(&model, &DicomBrowserModel::isScanningChanged);
    LogCapture log;
    model.scanAsync(nullptr, [](ScannerQt&) { throw std::runtime_error("scanner exploded"); });
    ASSERT_TRUE(waitForIdle(model, scanning, 10000));
    EXPECT_TRUE(log.contains("scanner exploded", 4));
    EXPECT_EQ(boolArguments(scanning), (std::vector<bool>{true, false}));

    model.scanBlocking(nullptr, [](ScannerQt&) { throw 42; });
    EXPECT_FALSE(model.isScanning());
    EXPECT_FALSE(log.contains("Scanner is already running"));
    EXPECT_EQ(boolArguments(scanning), (std::vector<bool>{true, false, true, false}));
}

TEST(ModelScanEdges, PlaceholderRequestWithoutPacsScanIsRejected)
{
    DicomBrowserModel model(nullptr);
    LogCapture log;
    PacsSeriesProxy proxy(nullptr);
    model.getPacsSeriesAsync(&proxy);
    model.scanDirectoryBlocking(DT::pydicomData("test_files/dicomdirtests"), true, false, true);
    model.getPacsSeriesBlocking(&proxy);
    EXPECT_EQ(log.count("Internal error: Previous scan was not a PACS", 4), 2);
}
