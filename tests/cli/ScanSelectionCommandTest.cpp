#include "tests/support/CliRun.h"
#include "tests/support/TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace T = Dravelin::Test;

namespace {

// Generated data: OUT/p{p}/s1/r{r}, odd series CT, even MR, every fifth DERIVED.
class ScanSelection : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new T::TempDir;
        data = dir->file("data");
        ASSERT_TRUE(T::runGenerator(
            {"folder", data, "--patients", "2", "--studies", "1", "--series", "5", "--images", "3", "--size", "16"}));
    }
    static void TearDownTestSuite() { delete dir; }

    // "UID LOCATION" lines printed by --location.
    static QStringList locationLines(const QString& out)
    {
        return out.split('\n').filter(QRegularExpression("^[0-9.]+ (file|https?|pacs):"));
    }

    static inline T::TempDir* dir = nullptr;
    static inline QString data;
};

}  // namespace

TEST_F(ScanSelection, LocationsOfShownSeriesLoadBack)
{
    const auto scan = T::runCli({"scan", data, "--location", "--no-images"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err.toStdString();
    const QStringList lines = locationLines(scan.out);
    ASSERT_EQ(lines.size(), 10);
    for (const QString& line : lines)
        EXPECT_TRUE(line.section(' ', 1).contains("?series=" + line.section(' ', 0, 0))) << line.toStdString();
    // Loading one of them is the loader's round trip, checked for every series at its own layer.
    const auto load = T::runCli({"load", lines.last().section(' ', 1), "--json"});
    ASSERT_EQ(load.exitCode, 0) << load.err.toStdString();
    const QJsonArray sets = QJsonDocument::fromJson(load.out.toUtf8()).object()["imageSets"].toArray();
    ASSERT_EQ(sets.size(), 1);
    const QJsonObject image = sets[0].toObject()["images"].toArray()[0].toObject();
    EXPECT_EQ(image["kind"].toString(), "volume");
    EXPECT_EQ(image["slices"].toInt(), 3);
    EXPECT_EQ(image["width"].toInt(), 16);
    EXPECT_EQ(image["instances"].toArray().size(), 3);
    for (const auto& instance : image["instances"].toArray())
        EXPECT_FALSE(instance.toString().isEmpty());
}

TEST_F(ScanSelection, FiltersNarrowTheViewAndTheLocations)
{
    const auto ct = T::runCli({"scan", data, "--location", "--no-images", "--modality", "CT"});
    ASSERT_EQ(ct.exitCode, 0) << ct.err.toStdString();
    EXPECT_EQ(locationLines(ct.out).size(), 6);  // series 1, 3, 5 of both patients
    EXPECT_FALSE(ct.out.contains(" MR "));

    const auto original = T::runCli({"scan", data, "--location", "--no-images", "--original-only"});
    EXPECT_EQ(locationLines(original.out).size(), 8);  // series 5 is derived

    const auto nothing = T::runCli({"scan", data, "--location", "--filter", "no such text"});
    EXPECT_EQ(locationLines(nothing.out).size(), 0);
    // Typed in lower case, as users do, the text still finds "Synthetic^Patient1".
    const auto typed = T::runCli({"scan", data, "--location", "--filter", "patient1"});
    EXPECT_EQ(locationLines(typed.out).size(), 5);

    const auto past = T::runCli({"scan", data, "--location", "--from", "1900-01-01", "--to", "1900-12-31"});
    EXPECT_EQ(locationLines(past.out).size(), 0);
    const auto always = T::runCli({"scan", data, "--location", "--from", "1900-01-01", "--to", "2999-12-31"});
    EXPECT_EQ(locationLines(always.out).size(), 10);
}

TEST_F(ScanSelection, SelectChecksSeriesAndPrintsOneJoinedLocation)
{
    const auto scan = T::runCli({"scan", data, "--location", "--no-images"});
    const QStringList lines = locationLines(scan.out);
    ASSERT_GE(lines.size(), 3);
    const QString a = lines[0].section(' ', 0, 0);
    const QString b = lines[2].section(' ', 0, 0);
    const auto select = T::runCli({"scan", data, "--no-images", "--select", b + "," + a});
    ASSERT_EQ(select.exitCode, 0) << select.err.toStdString();
    const QString joined = select.out.trimmed().section('\n', -1);
    // Display order, not the order asked for.
    EXPECT_EQ(joined, lines[0].section(' ', 1) + "##" + lines[2].section(' ', 1));
    EXPECT_EQ(select.out.count("[x] "), 2);

    const auto unknown = T::runCli({"scan", data, "--select", "1.2.3.4"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.err.contains("no shown series 1.2.3.4"));
}

TEST_F(ScanSelection, ExactDimensionsReplaceTheEstimate)
{
    const auto plain = T::runCli({"scan", data, "--no-images", "--tree"});
    EXPECT_TRUE(plain.out.contains("Estimated Dimensions:"));
    EXPECT_FALSE(plain.out.contains("    Dimensions:"));
    const auto exact = T::runCli({"scan", data, "--no-images", "--exact-dimensions", "--tree"});
    ASSERT_EQ(exact.exitCode, 0) << exact.err.toStdString();
    EXPECT_EQ(exact.out.count("Dimensions:") - exact.out.count("Estimated Dimensions:"), 10);
    EXPECT_TRUE(exact.out.contains("30 files"));
}

TEST(LoadCommand, SingleFile)
{
    const auto single = T::runCli({"load", T::pydicomData("test_files/CT_small.dcm")});
    ASSERT_EQ(single.exitCode, 0) << single.err.toStdString();
    EXPECT_TRUE(single.out.contains("image 128x128, 1 slices"));
    EXPECT_TRUE(single.out.contains("1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322"));
}
