#include "browser/models/DicomBrowserModel.h"
#include "host/core/LocationString.h"
#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomLoader.h"
#include "tests/scanning/TestDatasets.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

#include <set>

using namespace Dravelin;
using namespace Dravelin::Dicom;
namespace DT = Dravelin::Test;

namespace {

// A series of `n` images at the given locations, without any file behind them.
struct FakeSeries
{
    Study study{nullptr};
    Series series{&study};

    FakeSeries(const QString& uid, const std::vector<Filesystem::Url>& locations)
    {
        series.seriesInstanceUid = uid;
        for (const auto& location : locations) {
            auto* image = new Image(&series);
            image->location = location;
            series.images.push_back(image);
        }
    }
};

Filesystem::Url file(const QString& path)
{
    return Filesystem::Url::fromLocalFile(path);
}

std::set<std::string> localFiles(const Series& series)
{
    std::set<std::string> files;
    for (const Image* image : series.images)
        files.insert(QDir::cleanPath(QString::fromStdString(image->location.localFilePath())).toStdString());
    return files;
}

std::set<std::string> loadedFiles(const std::string& locationString)
{
    std::set<std::string> files;
    DicomLoader loader({locationString}, nullptr, std::make_shared<DatasetCache>(8), nullptr);
    for (const auto& set : loader.loadDescriptors())
        for (const auto& descriptor : set)
            for (const auto& f : descriptor.files)
                files.insert(QDir::cleanPath(QString::fromStdString(f)).toStdString());
    return files;
}

// For every series of the model: its location string loads exactly its own files, through
// the loader and through the cache.
void expectRoundTrip(const DicomBrowserModel& model, bool checkDicomHeader)
{
    DatasetCache cache(8);
    const std::vector<Series*> all = DT::allSeries(model.patients());
    EXPECT_FALSE(all.empty());
    for (Series* series : all) {
        // Also rtdose_rle*.dcm, which store the UID with VR UN.
        EXPECT_FALSE(series->seriesInstanceUid.contains('\\')) << series->seriesInstanceUid.toStdString();
        const std::string location = DicomBrowserModel::retrieveLocationString({series}, checkDicomHeader);
        ASSERT_FALSE(location.empty());
        EXPECT_EQ(loadedFiles(location), localFiles(*series)) << location;
        std::vector<std::string> names;
        cache.load(Filesystem::Url(location), &names, nullptr, false);
        EXPECT_EQ(names.size(), series->images.size()) << location;
    }
}

}  // namespace

TEST(LocationString, SingleFileIsItsOwnLocation)
{
    FakeSeries s("1.2", {file("/data/a b#1.dcm")});
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&s.series}, true), "file:///data/a%20b%231.dcm");
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&s.series}, false),
              "file:///data/a%20b%231.dcm?ignoreNonDicom=0");
}

TEST(LocationString, OneFolderSiblingFoldersAndSeveralSeries)
{
    FakeSeries folder("1.2.3", {file("/data/s/1.dcm"), file("/data/s/2.dcm"), file("/data/s/3.dcm")});
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&folder.series}, true), "file:///data/s?series=1.2.3");
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&folder.series}, false),
              "file:///data/s?series=1.2.3&ignoreNonDicom=0");

    FakeSeries siblings("9", {file("/data/x/a/1.dcm"), file("/data/x/b/2.dcm")});
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&siblings.series}, false),
              "file:///data/x?series=9&recursive=1&ignoreNonDicom=0");

    // Only a later image deeper down: still recursive, or the loader would miss it.
    FakeSeries deeper("8", {file("/data/y/1.dcm"), file("/data/y/sub/2.dcm")});
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&deeper.series}, true), "file:///data/y?series=8&recursive=1");

    FakeSeries empty("7", {});
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&folder.series, &empty.series, &siblings.series}, true),
              "file:///data/s?series=1.2.3##file:///data/x?series=9&recursive=1");
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({}, true), "");
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&empty.series}, true), "");
}

TEST(LocationString, WebSeriesDropTheInstancePart)
{
    FakeSeries web("2", {Filesystem::Url(std::string("https://h:8042/dicom-web/studies/1/series/2/instances/3")),
                         Filesystem::Url(std::string("https://h:8042/dicom-web/studies/1/series/2/instances/4"))});
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&web.series}, false),
              "https://h:8042/dicom-web/studies/1/series/2");

    FakeSeries odd("3",
                   {Filesystem::Url(std::string("http://h/wado/3")), Filesystem::Url(std::string("http://h/wado/4"))});
    LogCapture log;
    EXPECT_EQ(DicomBrowserModel::retrieveLocationString({&odd.series, &web.series}, true),
              "https://h:8042/dicom-web/studies/1/series/2");
    EXPECT_EQ(log.count("Could not determine series URL from image URL: http://h/wado/3", 4), 1);
}

TEST(LocationString, SplitAndJoin)
{
    using Filesystem::joinLocationString;
    using Filesystem::splitLocationString;
    EXPECT_EQ(splitLocationString("a##b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(splitLocationString("##a####b##"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(splitLocationString("").empty());
    EXPECT_EQ(splitLocationString("file:///x%23%23y"), (std::vector<std::string>{"file:///x%23%23y"}));
    EXPECT_EQ(joinLocationString({"a", "", "b"}), "a##b");
}

TEST(LocationStringRoundTrip, PydicomCorpus)
{
    DicomBrowserModel model(nullptr);
    model.scanDirectoryBlocking(DT::pydicomData("test_files"), true, false, true);
    ASSERT_GT(model.patients().size(), 3u);
    expectRoundTrip(model, true);
}

TEST(LocationStringRoundTrip, GeneratedDataWithJunkAndJoinedLists)
{
    DT::TempDir dir;
    ASSERT_TRUE(DT::runGenerator({"sample", dir.file("sample")}));
    ASSERT_TRUE(DT::runGenerator({"folder", dir.file("folder"), "--patients", "2", "--studies", "2", "--series", "2",
                                  "--images", "3", "--size", "16", "--junk", "4"}));
    for (const char* sub : {"sample", "folder"}) {
        for (const bool checkHeader : {true, false}) {
            DicomBrowserModel model(nullptr);
            model.scanDirectoryBlocking(dir.file(sub), true, false, checkHeader);
            expectRoundTrip(model, checkHeader);
        }
    }

    // All series at once: one "##"-joined string loads every file once.
    DicomBrowserModel model(nullptr);
    model.scanDirectoryBlocking(dir.file("folder"), true, false, true);
    const std::vector<Series*> all = DT::allSeries(model.patients());
    std::set<std::string> expected;
    for (const Series* s : all) {
        const auto files = localFiles(*s);
        expected.insert(files.begin(), files.end());
    }
    ASSERT_EQ(all.size(), 8u);
    const std::string joined = DicomBrowserModel::retrieveLocationString(all, true);
    EXPECT_EQ(Filesystem::splitLocationString(joined).size(), 8u);
    EXPECT_EQ(loadedFiles(joined), expected);
}

TEST(LocationStringRoundTrip, HostileFolderNames)
{
    DT::TempDir dir;
    ASSERT_TRUE(DT::runGenerator({"folder", dir.file("g"), "--patients", "1", "--studies", "1", "--series", "2",
                                  "--images", "2", "--size", "16"}));
    // "#", "##", "%", "?", "&", "=", spaces and non-ASCII must survive the loader encoding.
    const QString odd = dir.file(QString::fromUtf8("a ## b%20?x=1&y #ü"));
    ASSERT_TRUE(QDir().rename(dir.file("g"), odd));
    DicomBrowserModel model(nullptr);
    model.scanDirectoryBlocking(odd, true, false, false);
    ASSERT_EQ(model.patients().size(), 1u);
    expectRoundTrip(model, false);
    const std::string joined = DicomBrowserModel::retrieveLocationString(DT::allSeries(model.patients()), false);
    EXPECT_EQ(Filesystem::splitLocationString(joined).size(), 2u) << joined;
    EXPECT_EQ(loadedFiles(joined).size(), 4u);
}
