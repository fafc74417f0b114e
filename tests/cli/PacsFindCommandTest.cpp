#include "tests/support/CliRun.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace T = Dravelin::Test;

namespace {

// One Orthanc holding the pydicom corpus for the whole suite, and the `scan --json` output of
// the same files from disk to compare against.
class PacsFindCommand : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new T::PacsTestServer(T::PacsTestServer::Kind::Orthanc);
        ASSERT_TRUE(server->startWithCorpus()) << server->errorText().toStdString();
        const QStringList files = T::pacsCorpusFiles();

        T::TempDir dir;
        for (int i = 0; i < files.size(); ++i)
            ASSERT_TRUE(QFile::copy(files[i], dir.file(QString("f%1.dcm").arg(i))));
        const T::CliResult disk = T::runCli({"scan", dir.path(), "--json"});
        ASSERT_EQ(disk.exitCode, 0) << disk.err.toStdString();
        diskPatients = new QJsonArray(T::jsonPatients(disk.out));
    }
    static void TearDownTestSuite()
    {
        delete server;
        delete diskPatients;
    }

    static T::CliResult pacsFind(const QStringList& args)
    {
        return T::runCli(QStringList{"pacs-find", "--host", "127.0.0.1", "--port", QString::number(server->port()),
                                     "--aec", QString::fromStdString(server->options().aeTitle), "--aet",
                                     QString::fromStdString(server->options().clientAeTitle)} +
                         args);
    }

    static QJsonArray diskPatientsNamed(const QString& prefix)
    {
        QJsonArray found;
        for (const QJsonValue& p : *diskPatients)
            if (p["patientName"].toString().startsWith(prefix, Qt::CaseInsensitive))
                found.append(p);
        return found;
    }

    static T::PacsTestServer* server;
    static QJsonArray* diskPatients;
};

T::PacsTestServer* PacsFindCommand::server = nullptr;
QJsonArray* PacsFindCommand::diskPatients = nullptr;

int lineCount(const QStringList& lines, const QString& trimmed)
{
    int n = 0;
    for (const QString& line : lines)
        n += line.trimmed() == trimmed ? 1 : 0;
    return n;
}

}  // namespace

TEST_F(PacsFindCommand, StudySearchLeavesPlaceholders)
{
    const T::CliResult json = pacsFind({"--patient", "Doe*", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QJsonArray patients = T::jsonPatients(json.out);
    // Doe^Peter and Doe^Archibald; Citizen^Jan and the compressed samples do not match.
    EXPECT_EQ(T::treeCounts(patients), (T::TreeCounts{2, 6, 0, 0}));
    for (const QJsonValue& p : patients)
        EXPECT_TRUE(p["patientName"].toString().startsWith("Doe^")) << p["patientName"].toString().toStdString();
    EXPECT_EQ(json.errLines().size(), 1) << json.err.toStdString();
    EXPECT_TRUE(json.err.startsWith("2 patients, 6 studies, 0 series, 0 images, PACS TESTPACS, "))
        << json.err.toStdString();

    // The browser shows one "..." row per study until its series are asked for.
    const T::CliResult text = pacsFind({"--patient", "Doe*"});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const QStringList lines = text.outLines();
    EXPECT_EQ(lineCount(lines, "..."), 6);
    EXPECT_TRUE(lines.contains("    Name: Doe Peter")) << text.out.toStdString();
    EXPECT_TRUE(lines.last().startsWith("2 patients, 6 studies, 0 series, 0 images, PACS TESTPACS, "));

    // A name nobody has is an empty result, not an error.
    const T::CliResult none = pacsFind({"--patient", "Nobody*", "--json"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(T::jsonPatients(none.out).size(), 0);
}

TEST_F(PacsFindCommand, SeriesOptionResolvesEveryPlaceholder)
{
    const T::CliResult all = pacsFind({"--series", "--json"});
    ASSERT_EQ(all.exitCode, 0) << all.err.toStdString();
    const QJsonArray patients = T::jsonPatients(all.out);
    EXPECT_EQ(T::treeCounts(patients), (T::TreeCounts{5, 9, 16, 83}));
    EXPECT_EQ(T::imageKeys(patients, false), T::imageKeys(*diskPatients, false));  // in the same order too
    EXPECT_TRUE(all.err.startsWith("5 patients, 9 studies, 16 series, 83 images, PACS TESTPACS, "))
        << all.err.toStdString();

    for (const QJsonValue& p : patients)
        for (const QJsonValue& study : p["studies"].toArray())
            for (const QJsonValue& series : study["series"].toArray()) {
                const QJsonArray images = series["images"].toArray();
                for (int i = 0; i < images.size(); ++i) {
                    EXPECT_TRUE(images[i]["location"].toString().startsWith("pacs://"))
                        << images[i]["location"].toString().toStdString();
                    if (i > 0) {
                        EXPECT_LT(images[i - 1]["instanceNumber"].toInt(), images[i]["instanceNumber"].toInt());
                    }
                }
            }

    const T::CliResult doe = pacsFind({"--patient", "Doe*", "--series", "--json"});
    ASSERT_EQ(doe.exitCode, 0) << doe.err.toStdString();
    const QJsonArray doePatients = T::jsonPatients(doe.out);
    EXPECT_EQ(T::treeCounts(doePatients), T::treeCounts(diskPatientsNamed("Doe")));
    EXPECT_EQ(T::imageKeys(doePatients), T::imageKeys(diskPatientsNamed("Doe")));

    const T::CliResult noImages = pacsFind({"--patient", "Doe^Peter", "--series", "--no-images"});
    EXPECT_EQ(noImages.exitCode, 0);
    EXPECT_TRUE(noImages.out.contains("Series")) << noImages.out.toStdString();
    EXPECT_FALSE(noImages.out.contains("pacs://")) << noImages.out.toStdString();
}

TEST(PacsFindCommandFaults, UnreachableServerFailsFastWithOneLine)
{
    const int port = T::freeLoopbackPort();
    const T::CliResult r = T::runCli(
        {"pacs-find", "--host", "127.0.0.1", "--port", QString::number(port), "--aec", "NOBODY", "--series", "--json"},
        30000);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    ASSERT_EQ(r.errLines().size(), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith("dravelin-dicom pacs-find: NOBODY@127.0.0.1:" + QString::number(port) + ": "))
        << r.err.toStdString();
}
