#include "browser/models/DatasetPreviewLabel.h"
#include "browser/models/DicomBrowserModel.h"
#include "tests/browser/PreviewTestData.h"
#include "tests/browser/SlowDatasetCache.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QMovie>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace Dravelin;
using Dicom::DatasetPreviewLabel;

namespace {

constexpr const char* kMultiFrameSeries = "1.2.826.0.1.3680043.9.7001.2";

// One model over: a generated 9-image series, a 10-frame image and CT_small (one frame).
class PreviewFixture : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new Dravelin::Test::TempDir;
        ASSERT_TRUE(Dravelin::Test::runGenerator({"folder", s_dir->file("series"), "--patients", "1", "--studies", "1",
                                                  "--series", "1", "--images", "9", "--size", "32"}));
        ASSERT_TRUE(Dravelin::Test::writeMultiFrameFile(s_dir->file("frames.dcm"), 10, kMultiFrameSeries));
    }
    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override { buildModel(std::make_shared<Dicom::DatasetCache>()); }

    void buildModel(std::shared_ptr<Dicom::DatasetCache> cache)
    {
        Dicom::DatasetCache reader;
        std::vector<std::string> paths;
        Filesystem::Url folder = Filesystem::Url::fromLocalFile(s_dir->file("series"));
        folder.appendSubquery("recursive", "1");
        auto datasets = reader.load(folder, &paths, nullptr, false);
        ASSERT_EQ(datasets.size(), 9u);
        for (const QString& file :
             {s_dir->file("frames.dcm"), Dravelin::Test::pydicomData("test_files/CT_small.dcm")}) {
            datasets.push_back(reader.loadFromFile(file.toStdString(), nullptr, false));
            paths.push_back(file.toStdString());
        }
        model = std::make_unique<DicomBrowserModel>(datasets, paths, std::move(cache));
    }

    // The first series row whose series has `images` images (and, for one image, `frames` frames).
    QModelIndex series(size_t images, int frames = 0) const
    {
        for (int p = 0; p < model->rowCount(); ++p) {
            const QModelIndex patient = model->index(p, 0);
            for (int s = 0; s < model->rowCount(patient); ++s) {
                const QModelIndex study = model->index(s, 0, patient);
                for (int r = 0; r < model->rowCount(study); ++r) {
                    const QModelIndex row = model->index(r, 0, study);
                    Dicom::Series* found = DicomBrowserModel::toSeries(row);
                    if (found && found->images.size() == images &&
                        (frames == 0 || found->images[0]->numberOfFrames.toInt() == frames))
                        return row;
                }
            }
        }
        return {};
    }
    QModelIndex imageOf(const QModelIndex& seriesRow) const { return model->index(0, 0, seriesRow); }

    static void wheel(QWidget& w, int delta)
    {
        QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&w, &event);
    }
    static int centreGrey(const QImage& image) { return qGray(image.pixel(image.width() / 2, image.height() / 2)); }

    static inline Dravelin::Test::TempDir* s_dir = nullptr;
    std::unique_ptr<DicomBrowserModel> model;
};

}  // namespace

TEST_F(PreviewFixture, StartsInTheMiddleAndTheWheelClampsAtBothEnds)
{
    DatasetPreviewLabel label(model.get());
    label.setCurrent(series(9));
    EXPECT_EQ(label.framesCount(), 9);
    EXPECT_EQ(label.imageIndex(), 4);

    QSignalSpy spy(&label, &DatasetPreviewLabel::imageIndexChanged);
    for (int i = 0; i < 6; ++i)
        wheel(label, -120);
    std::vector<int> emitted;
    for (const auto& args : spy)
        emitted.push_back(args.at(0).toInt());
    EXPECT_EQ(emitted, (std::vector<int>{3, 2, 1, 0, 0, 0}));
    for (int i = 0; i < 12; ++i)
        wheel(label, 120);
    EXPECT_EQ(label.imageIndex(), 8);
    EXPECT_EQ(spy.last().at(0).toInt(), 8);

    EXPECT_EQ(label.thumbnail().width(), 200);
}

TEST_F(PreviewFixture, MultiFrameImagesStepThroughTheirFrames)
{
    DatasetPreviewLabel label(model.get());
    const QModelIndex frames = imageOf(series(1, 10));
    ASSERT_TRUE(frames.isValid());
    label.setCurrent(frames);
    EXPECT_EQ(label.framesCount(), 10);
    EXPECT_EQ(label.imageIndex(), 5);
    EXPECT_NEAR(centreGrey(label.thumbnail()), 125, 3);
    label.setImageIndex(42);
    EXPECT_EQ(label.imageIndex(), 9);
    EXPECT_NEAR(centreGrey(label.thumbnail()), 225, 3);

    // A series holding the one multi-frame image steps through its frames too.
    label.setCurrent(series(1, 10));
    EXPECT_EQ(label.imageIndex(), 5);
    label.setImageIndex(-3);
    EXPECT_EQ(label.imageIndex(), 0);
    EXPECT_NEAR(centreGrey(label.thumbnail()), 0, 3);

    // A single-frame image ignores the wheel and is rendered as it is.
    label.setCurrent(imageOf(series(1, 1)));
    EXPECT_EQ(label.framesCount(), 1);
    EXPECT_EQ(label.imageIndex(), 0);
    wheel(label, 120);
    wheel(label, 120);
    EXPECT_EQ(label.imageIndex(), 2);
    EXPECT_FALSE(label.thumbnail().isNull());
}

TEST_F(PreviewFixture, RowsWithoutAnImageShowTheErrorPlaceholder)
{
    DatasetPreviewLabel label(model.get());
    QPixmap placeholder(50, 40);
    placeholder.fill(Qt::red);
    label.setErrorPlaceholder(placeholder);

    const QModelIndex patient = model->index(0, 0);
    const QModelIndex study = model->index(0, 0, patient);
    for (const QModelIndex& row : {patient, study, QModelIndex()}) {
        label.setCurrent(row);
        EXPECT_EQ(label.framesCount(), 0);
        const QImage shown = label.thumbnail();
        ASSERT_EQ(shown.size(), QSize(200, 160));
        EXPECT_EQ(QColor(shown.pixel(100, 80)), QColor(Qt::red));
    }
}

TEST_F(PreviewFixture, UnreadableImageShowsTheErrorPlaceholder)
{
    // The model points at the file; the file goes away before the preview is made.
    const QString path = s_dir->file("gone.dcm");
    ASSERT_TRUE(Dravelin::Test::writeMultiFrameFile(path, 2, "1.2.826.0.1.3680043.9.7001.3"));
    Dicom::DatasetCache reader;
    DicomBrowserModel single({reader.loadFromFile(path.toStdString(), nullptr, false)}, {path.toStdString()},
                             std::make_shared<Dicom::DatasetCache>());
    QFile::remove(path);
    DatasetPreviewLabel label(&single);
    QPixmap placeholder(200, 200);
    placeholder.fill(Qt::blue);
    label.setErrorPlaceholder(placeholder);
    label.setCurrent(single.index(0, 0, single.index(0, 0, single.index(0, 0))));
    EXPECT_EQ(QColor(label.thumbnail().pixel(5, 5)), QColor(Qt::blue));
}

TEST_F(PreviewFixture, SupersededResultsAreDropped)
{
    auto cache = std::make_shared<Dravelin::Test::SlowDatasetCache>();
    buildModel(cache);
    DatasetPreviewLabel label(model.get());
    label.setCurrent(imageOf(series(1, 10)));  // frame 5, held in the cache
    ASSERT_TRUE(cache->waitForStarted(1));
    label.setImageIndex(9);  // supersedes frame 5
    cache->release(1);
    ASSERT_TRUE(cache->waitForStarted(2));  // frame 5 is done; frame 9 is held now
    QTest::qWait(100);
    EXPECT_TRUE(label.pixmap(Qt::ReturnByValue).isNull());
    cache->open();
    EXPECT_NEAR(centreGrey(label.thumbnail()), 225, 3);

    // A finished result still waiting for the GUI thread is dropped as well.
    label.setImageIndex(0);
    ASSERT_TRUE(cache->waitForFinished(3));
    QThread::msleep(50);  // the result is queued, not yet delivered
    QPixmap placeholder(200, 200);
    placeholder.fill(Qt::green);
    label.setErrorPlaceholder(placeholder);
    label.setCurrent(model->index(0, 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(QColor(label.thumbnail().pixel(100, 100)), QColor(Qt::green));
}

TEST_F(PreviewFixture, LoadingMovieShowsWhileTheThumbnailOutlastsTheDelay)
{
    QMovie movie(":/PreviewLoadingTiny.gif");
    ASSERT_TRUE(movie.isValid());
    auto cache = std::make_shared<Dravelin::Test::SlowDatasetCache>();
    buildModel(cache);
    DatasetPreviewLabel label(model.get());
    label.setLoadingPlaceholder(&movie);
    label.setLoadingPlaceholderDelay(0);
    label.setCurrent(imageOf(series(1, 10)));
    ASSERT_TRUE(cache->waitForStarted(1));  // the file is still being read
    EXPECT_TRUE(QTest::qWaitFor([&] { return label.movie() == &movie; }));
    EXPECT_EQ(movie.state(), QMovie::Running);
    cache->open();
    EXPECT_FALSE(label.thumbnail().isNull());
    EXPECT_EQ(label.movie(), nullptr);

    // A thumbnail that arrives before the delay ends never shows the movie.
    label.setLoadingPlaceholderDelay(3600 * 1000);
    label.setImageIndex(3);
    EXPECT_NEAR(centreGrey(label.thumbnail()), 75, 3);
    EXPECT_EQ(label.movie(), nullptr);
}

TEST(DatasetPreviewLabel, WithoutAModelStaysEmpty)
{
    DatasetPreviewLabel label;
    label.setText("unchanged");
    label.setCurrent(QModelIndex());
    label.setImageIndex(3);
    EXPECT_EQ(label.text(), "unchanged");
    EXPECT_TRUE(label.thumbnail().isNull());
}
