#include "tests/support/CliRun.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QJsonObject>

#include <gtest/gtest.h>

namespace T = Dravelin::Test;
using T::HttpTestServer;

// The end-to-end case: an Orthanc holding the corpus gives what `scan --json` gives for the
// same files on disk.
TEST(WebScanCommand, JsonEqualsTheDiskScanOfTheSameFiles)
{
    T::PacsTestServer server(T::PacsTestServer::Kind::Orthanc, T::PacsTestServer::Options::withDicomWeb());
    ASSERT_TRUE(server.startWithCorpus()) << server.errorText().toStdString();
    const QJsonArray disk = T::diskScanOfPacsCorpus();
    ASSERT_EQ(T::treeCounts(disk), (T::TreeCounts{5, 9, 16, 83}));

    const QString url = QString::fromStdString(server.dicomWebUrl());
    for (const char* threads : {"1", "4"}) {
        const T::CliResult r = T::runCli({"web-scan", url, "--json", "--threads", threads});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QJsonArray patients = T::jsonPatients(r.out);
        EXPECT_EQ(T::imageKeys(patients, false), T::imageKeys(disk, false)) << threads;  // in the same order too
        EXPECT_TRUE(r.err.contains("5 patients, 9 studies, 16 series, 83 images, " + url + ", "))
            << r.err.toStdString();
        const QJsonObject image = patients[0]["studies"][0]["series"][0]["images"][0].toObject();
        EXPECT_TRUE(image["location"].toString().startsWith(url + "/studies/"))
            << image["location"].toString().toStdString();
        EXPECT_TRUE(image["location"].toString().endsWith("/instances/" + image["sopInstanceUid"].toString()));
    }

    // A query part filters the study search.
    const T::CliResult doe = T::runCli({"web-scan", url + "?PatientName=Doe*", "--json"});
    ASSERT_EQ(doe.exitCode, 0) << doe.err.toStdString();
    const QJsonArray doePatients = T::jsonPatients(doe.out);
    EXPECT_EQ(doePatients.size(), 2);
    for (const QJsonValue& p : doePatients)
        EXPECT_TRUE(p["patientName"].toString().startsWith("Doe^"));
}

TEST(WebScanCommandFaults, FailingSeriesGivesPartialOutputAndExitOne)
{
    HttpTestServer server(HttpTestServer::oneFailingSeries(404));
    ASSERT_TRUE(server.isListening());
    const T::CliResult r = T::runCli({"web-scan", QString::fromStdString(server.url("/dicomweb")), "--json"});
    EXPECT_EQ(r.exitCode, 1);
    const QJsonArray patients = T::jsonPatients(r.out);
    EXPECT_EQ(T::imageKeys(patients), (QStringList{"S|R1|I1", "S|R1|I2"}));
    EXPECT_EQ(patients[0]["studies"][0]["series"][0]["images"][0]["location"].toString(),
              QString::fromStdString(server.url("/dicomweb/studies/S/series/R1/instances/I1")));
    EXPECT_TRUE(r.err.contains("dravelin-dicom web-scan: incomplete result: HTTP 404")) << r.err.toStdString();

    // Text mode prints the same partial tree before the error.
    const T::CliResult text = T::runCli({"web-scan", QString::fromStdString(server.url("/dicomweb"))});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_TRUE(text.out.contains("1 patient, 1 study, 1 series, 2 images, ")) << text.out.toStdString();
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

    // Nothing listening: no HTTP status to give, only what went wrong.
    const int port = T::freeLoopbackPort();
    const T::CliResult refused = T::runCli({"web-scan", QString("http://127.0.0.1:%1/dicomweb").arg(port)}, 30000);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains("dravelin-dicom web-scan: ")) << refused.err.toStdString();
    EXPECT_FALSE(refused.err.contains("HTTP 0")) << refused.err.toStdString();
}

// A server that wants a token or the user "u" with the password "s3cret" in every request.
TEST(WebScanCommandFaults, CredentialsGoWithEveryRequestAndNeverIntoTheOutput)
{
    const auto run = [](const QStringList& options, const QMap<QString, QString>& environment,
                        std::vector<HttpTestServer::Request>* requests = nullptr) {
        HttpTestServer server([](const HttpTestServer::Request& request) {
            const std::string authorization = request.header("authorization");
            if (authorization != "Bearer abc.def" && authorization != "Basic dTpzM2NyZXQ=")
                return HttpTestServer::json("{}", 401);
            return HttpTestServer::oneFailingSeries(404)(request);
        });
        const T::CliResult r =
            T::runCli(QStringList{"web-scan", QString::fromStdString(server.url("/dicomweb"))} + options, environment);
        if (requests)
            *requests = server.requests();
        return r;
    };
    const T::CliResult none = run({"--json"}, {});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(none.out.isEmpty());
    EXPECT_TRUE(none.err.contains("dravelin-dicom web-scan: HTTP 401")) << none.err.toStdString();

    const T::CliResult wrong = run({"--user", "u", "--password-env", "PW"}, {{"PW", "guess"}});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wrong.err.contains("HTTP 401")) << wrong.err.toStdString();
    EXPECT_FALSE(wrong.err.contains("guess"));

    std::vector<HttpTestServer::Request> requests;
    const T::CliResult basic = run({"--user", "u", "--password-env", "PW", "--json"}, {{"PW", "s3cret"}}, &requests);
    EXPECT_EQ(basic.exitCode, 1);  // the series that fails
    EXPECT_EQ(T::imageKeys(T::jsonPatients(basic.out)).size(), 2);
    EXPECT_FALSE(basic.err.contains("s3cret"));
    EXPECT_EQ(requests.size(), 4u);

    const T::CliResult bearer = run({"--token-env", "TOKEN"}, {{"TOKEN", "abc.def"}}, &requests);
    EXPECT_EQ(bearer.exitCode, 1);
    EXPECT_EQ(requests.size(), 4u);
}
