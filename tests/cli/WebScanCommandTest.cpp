#include "tests/support/CliRun.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/OrthancTestServer.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace T = Dravelin::Test;
using T::HttpTestServer;
using T::OrthancTestServer;

namespace {

// The `scan --json` output of the corpus from disk, the reference for what a server holding
// the same files must give.
QJsonArray scanCorpusFromDisk()
{
    const QStringList files = OrthancTestServer::pydicomCorpus();
    T::TempDir dir;
    for (int i = 0; i < files.size(); ++i)
        if (!QFile::copy(files[i], dir.file(QString("f%1.dcm").arg(i))))
            return {};
    return T::jsonPatients(T::runCli({"scan", dir.path(), "--json"}).out);
}

class WebScanCommand : public ::testing::Test
{
protected:
    // Without credentials and with them; each holds the corpus.
    static void SetUpTestSuite()
    {
        if (!OrthancTestServer::isInstalled())
            return;
        open = new OrthancTestServer;
        secured = new OrthancTestServer("reader", "s3cret");
        for (OrthancTestServer* server : {open, secured}) {
            QString error;
            ASSERT_TRUE(server->start(&error)) << error.toStdString();
            ASSERT_TRUE(server->store(OrthancTestServer::pydicomCorpus(), &error)) << error.toStdString();
        }
        disk = new QJsonArray(scanCorpusFromDisk());
    }
    static void TearDownTestSuite()
    {
        delete open;
        delete secured;
        delete disk;
        open = secured = nullptr;
        disk = nullptr;
    }
    void SetUp() override
    {
        if (!open)
            GTEST_SKIP() << "orthanc and orthanc-dicomweb are not installed";
    }

    static OrthancTestServer* open;
    static OrthancTestServer* secured;
    static QJsonArray* disk;
};

OrthancTestServer* WebScanCommand::open = nullptr;
OrthancTestServer* WebScanCommand::secured = nullptr;
QJsonArray* WebScanCommand::disk = nullptr;

QString url(const OrthancTestServer& server)
{
    return QString::fromStdString(server.dicomWebUrl());
}

}  // namespace

TEST_F(WebScanCommand, JsonEqualsTheDiskScanOfTheSameFiles)
{
    ASSERT_EQ(T::treeCounts(*disk), (T::TreeCounts{5, 9, 16, 83}));
    for (const char* threads : {"1", "4"}) {
        const T::CliResult r = T::runCli({"web-scan", url(*open), "--json", "--threads", threads});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QJsonArray patients = T::jsonPatients(r.out);
        EXPECT_EQ(T::treeCounts(patients), T::treeCounts(*disk)) << threads << " threads";
        EXPECT_EQ(T::imageKeys(patients, false), T::imageKeys(*disk, false));  // in the same order too
        EXPECT_TRUE(r.err.contains("5 patients, 9 studies, 16 series, 83 images, " + url(*open) + ", "))
            << r.err.toStdString();
        const QJsonObject image = patients[0]["studies"][0]["series"][0]["images"][0].toObject();
        EXPECT_TRUE(image["location"].toString().startsWith(url(*open) + "/studies/"))
            << image["location"].toString().toStdString();
        EXPECT_TRUE(image["location"].toString().endsWith("/instances/" + image["sopInstanceUid"].toString()));
    }

    // A query part filters the study search.
    const T::CliResult doe = T::runCli({"web-scan", url(*open) + "?PatientName=Doe*", "--json"});
    ASSERT_EQ(doe.exitCode, 0) << doe.err.toStdString();
    const QJsonArray doePatients = T::jsonPatients(doe.out);
    EXPECT_EQ(doePatients.size(), 2);
    for (const QJsonValue& p : doePatients)
        EXPECT_TRUE(p["patientName"].toString().startsWith("Doe^"));
}

TEST_F(WebScanCommand, TextIsTheBrowserView)
{
    const T::CliResult r = T::runCli({"web-scan", url(*open)});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.outLines();
    int images = 0;
    for (const QString& line : lines)
        images += line.trimmed().startsWith(url(*open) + "/studies/") ? 1 : 0;
    EXPECT_EQ(images, 83);
    EXPECT_TRUE(lines.contains("[ ] ID: 98890234 - Name: Doe Peter")) << r.out.toStdString();
    EXPECT_TRUE(lines.last().startsWith("5 patients, 9 studies, 16 series, 83 images, ")) << lines.last().toStdString();
}

TEST_F(WebScanCommand, Credentials)
{
    const T::CliResult none = T::runCli({"web-scan", url(*secured), "--json"});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(none.out.isEmpty());
    EXPECT_TRUE(none.err.contains("dravelin-dicom web-scan: HTTP 401")) << none.err.toStdString();

    const T::CliResult wrong =
        T::runCli({"web-scan", url(*secured), "--user", "reader", "--password-env", "PW"}, {{"PW", "guess"}});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wrong.err.contains("HTTP 401")) << wrong.err.toStdString();
    EXPECT_FALSE(wrong.err.contains("guess"));

    const T::CliResult right =
        T::runCli({"web-scan", url(*secured), "--user", "reader", "--password-env", "DRAVELIN_TEST_PW", "--json"},
                  {{"DRAVELIN_TEST_PW", "s3cret"}});
    ASSERT_EQ(right.exitCode, 0) << right.err.toStdString();
    EXPECT_EQ(T::imageKeys(T::jsonPatients(right.out)), T::imageKeys(*disk));
    EXPECT_FALSE(right.err.contains("s3cret"));

    const T::CliResult unset =
        T::runCli({"web-scan", url(*secured), "--user", "reader", "--password-env", "DRAVELIN_TEST_UNSET_VARIABLE"});
    EXPECT_EQ(unset.exitCode, 2);
    EXPECT_EQ(unset.errLines(),
              QStringList{"dravelin-dicom web-scan: environment variable DRAVELIN_TEST_UNSET_VARIABLE is not set"});
}

namespace {

QString ui(const char* tag, const std::string& uid)
{
    return QString("\"%1\": {\"vr\": \"UI\", \"Value\": [\"%2\"]}").arg(tag, QString::fromStdString(uid));
}

// One study S with series R1 (one instance) and R2, whose instance list answers 404.
HttpTestServer::Reply oneBadSeries(const HttpTestServer::Request& request)
{
    if (request.path == "/dicomweb/studies")
        return HttpTestServer::json(("[{" + ui("0020000D", "S") + "}]").toStdString());
    if (request.path == "/dicomweb/studies/S/series")
        return HttpTestServer::json(("[{" + ui("0020000E", "R1") + "}, {" + ui("0020000E", "R2") + "}]").toStdString());
    if (request.path == "/dicomweb/studies/S/series/R1/instances")
        return HttpTestServer::json(("[{" + ui("00080018", "I") + ", " + ui("0020000D", "S") + ", " +
                                     ui("0020000E", "R1") + ", \"00100020\": {\"vr\": \"LO\", \"Value\": [\"P\"]}}]")
                                        .toStdString());
    return HttpTestServer::json("{\"error\": \"no such series\"}", 404);
}

}  // namespace

TEST(WebScanCommandFaults, FailingSeriesGivesPartialOutputAndExitOne)
{
    HttpTestServer server(oneBadSeries);
    ASSERT_TRUE(server.isListening());
    const T::CliResult r = T::runCli({"web-scan", QString::fromStdString(server.url("/dicomweb")), "--json"});
    EXPECT_EQ(r.exitCode, 1);
    const QJsonArray patients = T::jsonPatients(r.out);
    EXPECT_EQ(T::treeCounts(patients), (T::TreeCounts{1, 1, 1, 1}));
    EXPECT_EQ(T::imageKeys(patients), QStringList{"S|R1|I"});
    EXPECT_EQ(patients[0]["studies"][0]["series"][0]["images"][0]["location"].toString(),
              QString::fromStdString(server.url("/dicomweb/studies/S/series/R1/instances/I")));
    EXPECT_TRUE(r.err.contains("dravelin-dicom web-scan: incomplete result: HTTP 404")) << r.err.toStdString();

    // Text mode prints the same partial tree before the error.
    const T::CliResult text = T::runCli({"web-scan", QString::fromStdString(server.url("/dicomweb"))});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_TRUE(text.out.contains("1 patient, 1 study, 1 series, 1 image, ")) << text.out.toStdString();
}

TEST(WebScanCommandFaults, UnusableStudySearchExitsTwo)
{
    HttpTestServer malformed([](const HttpTestServer::Request&) {
        return HttpTestServer::json(R"([{"0020000D": {"vr": "UI", "Value": ["S")");
    });
    const T::CliResult bad = T::runCli({"web-scan", QString::fromStdString(malformed.url("/dicomweb")), "--json"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.out.isEmpty()) << bad.out.toStdString();
    EXPECT_TRUE(bad.err.contains("dravelin-dicom web-scan: HTTP 502: Unreadable answer to ")) << bad.err.toStdString();

    HttpTestServer failing([](const HttpTestServer::Request&) { return HttpTestServer::json("{}", 500); });
    const T::CliResult error = T::runCli({"web-scan", QString::fromStdString(failing.url("/dicomweb"))});
    EXPECT_EQ(error.exitCode, 2);
    EXPECT_TRUE(error.err.contains("dravelin-dicom web-scan: HTTP 500: ")) << error.err.toStdString();

    // Nothing listening: no HTTP status to give, only what went wrong, and quickly.
    const int port = T::freeLoopbackPort();
    QElapsedTimer timer;
    timer.start();
    const T::CliResult refused = T::runCli({"web-scan", QString("http://127.0.0.1:%1/dicomweb").arg(port)}, 30000);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains("dravelin-dicom web-scan: ")) << refused.err.toStdString();
    EXPECT_FALSE(refused.err.contains("HTTP 0")) << refused.err.toStdString();
}

TEST(WebScanCommandFaults, EveryRequestCarriesTheCredentials)
{
    HttpTestServer server(oneBadSeries);
    T::runCli({"web-scan", QString::fromStdString(server.url("/dicomweb")), "--token-env", "TOKEN"},
              {{"TOKEN", "abc.def"}});
    const auto bearer = server.requests();
    ASSERT_EQ(bearer.size(), 4u);
    for (const auto& request : bearer)
        EXPECT_EQ(request.header("authorization"), "Bearer abc.def") << request.path;

    HttpTestServer basic(oneBadSeries);
    T::runCli({"web-scan", QString::fromStdString(basic.url("/dicomweb")), "--user", "u", "--password-env", "PW"},
              {{"PW", "p"}});
    ASSERT_EQ(basic.requests().size(), 4u);
    for (const auto& request : basic.requests())
        EXPECT_EQ(request.header("authorization"), "Basic dTpw") << request.path;
}
