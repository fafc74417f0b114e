#include "browser/models/DatasetMemoryLoader.h"
#include "browser/models/DicomBrowserModel.h"
#include "host/core/LogCapture.h"
#include "tests/browser/SlowDatasetCache.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QImage>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <vector>

using namespace Dravelin;
using Dicom::DatasetMemoryLoader;
using Dravelin::DicomBrowserModel;

namespace {

Filesystem::Url corpus(const char* name)
{
    return Filesystem::Url::fromLocalFile(Dravelin::Test::pydicomData(QString("test_files/") + name));
}

// Collects queue sizes on the GUI thread (signals from the pool arrive queued).
struct SizeLog
{
    explicit SizeLog(DatasetMemoryLoader& loader)
    {
        QObject::connect(&loader, &DatasetMemoryLoader::queueSizeChanged, &context,
                         [this](int n) { sizes.push_back(n); });
    }
    bool waitForCount(size_t n)
    {
        return QTest::qWaitFor([&] { return sizes.size() >= n; }, 10000);
    }
    QObject context;
    std::vector<int> sizes;
};

}  // namespace

TEST(DatasetMemoryLoader, LoadsEachLocationOnceIntoTheCache)
{
    auto cache = std::make_shared<Dravelin::Test::SlowDatasetCache>();
    cache->open();
    DatasetMemoryLoader loader(cache);
    SizeLog log(loader);
    const auto ct = corpus("CT_small.dcm");
    loader.addToQueue(ct);
    loader.addToQueue(Filesystem::Url(ct.string()));  // same text, same entry
    ASSERT_TRUE(cache->waitForFinished(1));
    ASSERT_TRUE(log.waitForCount(2));
    EXPECT_EQ(log.sizes, (std::vector<int>{1, 0}));
    EXPECT_EQ(cache->parseCount(), 1);
    // The dataset is now in memory: loading it again parses nothing.
    EXPECT_EQ(cache->DatasetCache::load(ct, nullptr, nullptr, true).size(), 1u);
    EXPECT_EQ(cache->parseCount(), 1);
}

TEST(DatasetMemoryLoader, CancelledLocationIsNotLoaded)
{
    auto cache = std::make_shared<Dravelin::Test::SlowDatasetCache>();
    DatasetMemoryLoader loader(cache);
    SizeLog log(loader);
    const auto first = corpus("CT_small.dcm");
    const auto second = corpus("MR_small.dcm");
    loader.addToQueue(first);
    loader.addToQueue(second);
    ASSERT_TRUE(cache->waitForStarted(1));
    loader.cancel(second);
    loader.cancel(corpus("not-queued.dcm"));  // absent is fine
    cache->open();
    ASSERT_TRUE(cache->waitForFinished(1));
    ASSERT_TRUE(log.waitForCount(5));
    EXPECT_EQ(log.sizes, (std::vector<int>{1, 2, 1, 1, 0}));
    QTest::qWait(100);
    EXPECT_EQ(cache->started(second.string()), 0);
    EXPECT_EQ(cache->startedTotal(), 1);
}

TEST(DatasetMemoryLoader, CancelAllDuringALoadLetsItFinish)
{
    auto cache = std::make_shared<Dravelin::Test::SlowDatasetCache>();
    DatasetMemoryLoader loader(cache);
    SizeLog log(loader);
    loader.addToQueue(corpus("CT_small.dcm"));
    loader.addToQueue(corpus("MR_small.dcm"));
    loader.addToQueue(corpus("rtplan.dcm"));
    ASSERT_TRUE(cache->waitForStarted(1));
    loader.cancelAll();
    ASSERT_TRUE(log.waitForCount(4));
    EXPECT_EQ(log.sizes.back(), 0);  // at once, while the first load is still held
    cache->open();
    ASSERT_TRUE(cache->waitForFinished(1));
    ASSERT_TRUE(log.waitForCount(5));
    EXPECT_EQ(log.sizes, (std::vector<int>{1, 2, 3, 0, 0}));
    EXPECT_EQ(cache->startedTotal(), 1);
}

TEST(DatasetMemoryLoader, WithoutACacheNothingIsQueued)
{
    DatasetMemoryLoader loader(nullptr);
    SizeLog log(loader);
    loader.addToQueue(corpus("CT_small.dcm"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(log.sizes.empty());

    auto cache = std::make_shared<Dravelin::Test::SlowDatasetCache>();
    cache->open();
    loader.setDatasetCache(cache);
    loader.addToQueue(corpus("CT_small.dcm"));
    ASSERT_TRUE(cache->waitForFinished(1));
    EXPECT_EQ(cache->startedTotal(), 1);
}

TEST(DatasetMemoryLoader, ParallelLoadsAndDestructionWhileLoading)
{
    auto cache = std::make_shared<Dravelin::Test::SlowDatasetCache>();
    {
        DatasetMemoryLoader loader(cache);
        loader.setMaxThreadCount(2);
        loader.addToQueue(corpus("CT_small.dcm"));
        loader.addToQueue(corpus("MR_small.dcm"));
        loader.addToQueue(corpus("rtplan.dcm"));
        ASSERT_TRUE(cache->waitForStarted(2));  // two held at once: two threads
        loader.cancel(corpus("rtplan.dcm"));
        cache->release(2);
    }
    // The destructor waited for both running loads and dropped the third.
    EXPECT_TRUE(cache->waitForFinished(2, 0));
    EXPECT_EQ(cache->startedTotal(), 2);
}

// A series row's thumbnail comes from the loader's worker, never the GUI thread, and lands in
// the model as the row's picture; a series that cannot be rendered gets none (and is not asked
// for again).
TEST(DatasetMemoryLoader, ThumbnailOfASeriesArrivesFromAWorkerIntoTheModel)
{
    struct Case
    {
        const char* file;
        bool pictured;
    };
    for (const Case& c : {Case{"CT_small.dcm", true}, Case{"rtstruct.dcm", false}}) {
        SCOPED_TRACE(c.file);
        auto cache = std::make_shared<Dravelin::Test::SlowDatasetCache>();
        cache->open();
        const Filesystem::Url url = corpus(c.file);
        const std::string path = Dravelin::Test::pydicomData(QString("test_files/") + c.file).toStdString();
        DicomBrowserModel model({cache->loadFromFile(path, nullptr, false)}, {path}, cache);
        const QModelIndex patient = model.index(0, 0);
        const QModelIndex series = model.index(0, 0, model.index(0, 0, patient));
        Dicom::Series* record = DicomBrowserModel::toSeries(series);
        ASSERT_NE(record, nullptr);
        ASSERT_FALSE(model.hasSeriesThumbnail(record));

        DatasetMemoryLoader loader(cache);
        std::atomic<int> onGuiThread{0};
        QObject::connect(
            &loader, &DatasetMemoryLoader::thumbnailReady, &loader,
            [&](quint64, const QImage&) { onGuiThread += QThread::currentThread() == qApp->thread() ? 1 : 0; },
            Qt::DirectConnection);
        QObject context;
        std::vector<quint64> tags;
        QObject::connect(&loader, &DatasetMemoryLoader::thumbnailReady, &context,
                         [&](quint64 tag, const QImage& image) {
                             tags.push_back(tag);
                             model.setSeriesThumbnail(series, image);
                         });
        loader.addThumbnailRequest(7, record->images.front()->location, std::nullopt, 32, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !tags.empty(); }, 10000));
        EXPECT_EQ(tags, std::vector<quint64>{7});
        EXPECT_EQ(onGuiThread.load(), 0);
        EXPECT_TRUE(model.hasSeriesThumbnail(record));
        const QVariant picture = series.data(Qt::DecorationRole);
        EXPECT_EQ(picture.isValid(), c.pictured);
        if (c.pictured) {
            const QImage image = picture.value<QImage>();
            EXPECT_EQ(std::max(image.width(), image.height()), 32);
        }
        // Only the series row has a picture.
        EXPECT_FALSE(patient.data(Qt::DecorationRole).isValid());
        EXPECT_FALSE(series.siblingAtColumn(DicomBrowserModel::ImageCountColumn).data(Qt::DecorationRole).isValid());
    }
}
