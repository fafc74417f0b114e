#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "host/network/HttpError.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFile>

#include <iterator>
#include <set>

namespace Dravelin::Dicom {
namespace {

using Test::HttpTestServer;

// One line per image with what the records hold, locations left out. DICOM JSON carries DS
// values as numbers, so "5.000000" from a file arrives as 5: compare the number.
std::set<std::string> describe(const std::vector<Patient*>& patients)
{
    std::set<std::string> lines;
    for (const Patient* p : patients)
        for (const Study* st : p->studies)
            for (const Series* se : st->series)
                for (const Image* im : se->images)
                    lines.insert((p->patientId + "|" + p->patientName + "|" + st->studyInstanceUid + "|" +
                                  st->studyDescription + "|" + se->seriesInstanceUid + "|" + se->modality + "|" +
                                  se->seriesDescription + "|" + im->sopInstanceUid + "|" + im->instanceNumberText +
                                  "|" + im->imageType + "|" + QString::number(im->sliceThickness.toDouble()))
                                     .toStdString());
    return lines;
}

// Every field of every image, where the web-scan command's end-to-end case compares UIDs only.
TEST(ScannerWeb, TreeFromOrthancEqualsTheTreeFromDisk)
{
    Dravelin::Test::PacsTestServer server(Dravelin::Test::PacsTestServer::Kind::Orthanc,
                                          Dravelin::Test::PacsTestServer::Options::withDicomWeb());
    ASSERT_TRUE(server.startWithCorpus()) << server.errorText().toStdString();
    const QStringList files = Dravelin::Test::pacsCorpusFiles();

    Dravelin::Test::TempDir dir;
    for (int i = 0; i < files.size(); ++i)
        ASSERT_TRUE(QFile::copy(files[i], dir.file(QString("f%1.dcm").arg(i))));
    Scanner disk(nullptr);
    disk.scanDirectory(dir.path(), true, false, true);

    auto cache = std::make_shared<DatasetCache>();
    Scanner web(cache);
    web.setNumberOfThreads(4);
    const auto result = web.scanWeb(Filesystem::Url(server.dicomWebUrl()));
    EXPECT_FALSE(result.has_value()) << result->text();
    const auto fromWeb = describe(web.patients());
    const auto fromDisk = describe(disk.patients());
    ASSERT_EQ(fromDisk.size(), 83u);
    std::vector<std::string> onlyWeb, onlyDisk;
    std::set_difference(fromWeb.begin(), fromWeb.end(), fromDisk.begin(), fromDisk.end(), std::back_inserter(onlyWeb));
    std::set_difference(fromDisk.begin(), fromDisk.end(), fromWeb.begin(), fromWeb.end(), std::back_inserter(onlyDisk));
    EXPECT_TRUE(onlyWeb.empty() && onlyDisk.empty())
        << onlyWeb.size() << " differ, e.g. web: " << (onlyWeb.empty() ? "" : onlyWeb[0])
        << "\n disk: " << (onlyDisk.empty() ? "" : onlyDisk[0]);
}

TEST(ScannerWeb, OneFailingSeriesLeavesTheOthersAndReturnsItsError)
{
    HttpTestServer server(HttpTestServer::oneFailingSeries(404));
    Scanner scanner(nullptr);
    const auto result = scanner.scanWeb(Filesystem::Url(server.url("/dicomweb?PatientName=DOE")));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->code(), 404);
    ASSERT_EQ(scanner.patients().size(), 1u);
    const Image* image = scanner.patients()[0]->studies[0]->series[0]->images[0];
    // No RetrieveURL: built from the scan URL, without its query.
    EXPECT_EQ(image->location.string(), server.url("/dicomweb/studies/S/series/R1/instances/I1"));
    const std::string instanceQuery = server.requests().back().query;
    EXPECT_EQ(instanceQuery.rfind("includefield=00080008&includefield=00280002&", 0), 0u) << instanceQuery;
}

TEST(ScannerWeb, CredentialsInTheUrlGoOnlyIntoTheAuthorizationHeader)
{
    const std::string authorization = "Basic " + QByteArray("alice:s3cret").toBase64().toStdString();
    HttpTestServer server([&](const HttpTestServer::Request& request) {
        if (request.header("authorization") != authorization)
            return HttpTestServer::json("{}", 401);
        const auto ui = [](const char* tag, const char* uid) {
            return "\"" + std::string(tag) + "\": {\"vr\": \"UI\", \"Value\": [\"" + uid + "\"]}";
        };
        const std::string instance =
            request.path.size() > 10 && request.path.rfind("/instances") == request.path.size() - 10
                ? ", " + ui("00080018", "I")
                : std::string();
        return HttpTestServer::json("[{" + ui("0020000D", "S") + ", " + ui("0020000E", "R") + instance + "}]");
    });
    LogCapture log;
    auto cache = std::make_shared<DatasetCache>();
    // A refused login of an earlier scan on the shared cache does not stand in for the one given now.
    Filesystem::Url url(server.url("/dicomweb"));
    url.setUserInfo("alice:wrong");
    EXPECT_TRUE(Scanner(cache).scanWeb(url).has_value());
    Scanner scanner(cache);
    url.setUserInfo("alice:s3cret");
    const auto result = scanner.scanWeb(url);
    EXPECT_FALSE(result.has_value()) << result->text();
    ASSERT_EQ(scanner.patients().size(), 1u);
    const Filesystem::Url location = scanner.patients()[0]->studies[0]->series[0]->images[0]->location;
    EXPECT_EQ(location.string(), server.url("/dicomweb/studies/S/series/R/instances/I"));
    ASSERT_TRUE(cache->authorizationProvider());
    EXPECT_EQ(cache->authorizationProvider()->authorizationHeader(location), authorization);
    for (const auto& entry : log.entries())
        EXPECT_EQ(entry.message.find("s3cret"), std::string::npos) << entry.message;
}

}  // namespace
}  // namespace Dravelin::Dicom
