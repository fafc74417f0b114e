#include "host/dicom/DatasetCache.h"
#include "host/dicom/dicomweb/WadoRetriever.h"
#include "host/dicom/dicomweb/WebClientErrors.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "tests/support/HostileData.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <mutex>

namespace Dravelin::Dicom {
namespace {

using Test::HttpTestServer;
using Test::text;

const std::string Study = "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.1";
const std::string Series = "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.17";

struct Recorder
{
    std::mutex mutex;
    std::vector<Error> errors;
    void operator()(const Error& e)
    {
        std::lock_guard<std::mutex> lock(mutex);
        errors.push_back(e);
    }
};

TEST(WebWadoRetrieval, LoadsInstancesAndSeriesFromOrthanc)
{
    Dravelin::Test::PacsTestServer server(Dravelin::Test::PacsTestServer::Kind::Orthanc,
                                          Dravelin::Test::PacsTestServer::Options::withDicomWeb());
    ASSERT_TRUE(server.startWithCorpus()) << server.errorText().toStdString();

    DatasetCache cache;
    Recorder recorder;
    cache.addErrorCallback([&](const Error& e) { recorder(e); });
    const Filesystem::Url seriesUrl(server.dicomWebUrl() + "/studies/" + Study + "/series/" + Series);
    std::vector<std::string> names;
    auto datasets = cache.load(seriesUrl, &names, nullptr, true);
    ASSERT_EQ(datasets.size(), 3u);
    ASSERT_EQ(names.size(), 3u);
    for (size_t i = 0; i < datasets.size(); ++i) {
        EXPECT_EQ(text(*datasets[i], DCM_SeriesInstanceUID), Series);
        EXPECT_TRUE(datasets[i]->tagExists(DCM_PixelData));
        EXPECT_EQ(names[i], seriesUrl.string() + "/instances/" + text(*datasets[i], DCM_SOPInstanceUID));
    }

    // One instance, header only.
    auto one = cache.load(Filesystem::Url(names[1]), nullptr, nullptr, false);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(text(*one[0], DCM_SOPInstanceUID), names[1].substr(names[1].rfind('/') + 1));
    EXPECT_FALSE(one[0]->tagExists(DCM_PixelData));
    EXPECT_EQ(text(*one[0], DCM_PatientName), "Doe^Peter");

    EXPECT_TRUE(cache.load(Filesystem::Url(server.dicomWebUrl() + "/studies/1.2.3"), nullptr, nullptr, true).empty());
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors.back().code, WebClientErrors::RequestFailed);
    EXPECT_NE(recorder.errors.back().message.find("404"), std::string::npos);
}

TEST(WebWadoRetrieval, BrokenAndTruncatedMultipartAnswersGivePartialResults)
{
    const std::string instance =
        Dravelin::Test::readFile(Dravelin::Test::pydicomData("test_files/CT_small.dcm")).toStdString();
    const std::string boundary = "b0undary-with-many-characters-0123456789";
    // A part nested deeper than the parser's stack allows.
    const std::string deep =
        Dravelin::Test::HostileData::nestedSequences(5650, Dravelin::Test::HostileData::Nesting::ExplicitLittle)
            .toStdString();
    const auto part = [&](const std::string& body) {
        return "--" + boundary + "\r\nContent-Type: application/dicom\r\n\r\n" + body + "\r\n";
    };
    HttpTestServer server([&](const HttpTestServer::Request& request) {
        HttpTestServer::Reply reply;
        reply.headers = {{"Content-Type", "multipart/related; type=\"application/dicom\"; boundary=" + boundary}};
        if (request.path == "/good" && request.header("authorization") != "Basic YWxpY2U6c2VjcmV0")  // alice:secret
            reply.status = 401;
        else if (request.path == "/good")
            reply.body = part(instance) + part(instance) + "--" + boundary + "--\r\n";
        else if (request.path == "/broken")
            reply.body = part(instance) + part(deep) + "--" + boundary + "--\r\n";
        else if (request.path == "/cut")
            reply.body = part(instance) + "--" + boundary + "\r\nContent-Type: application/dicom\r\n\r\n" +
                         instance.substr(0, 100);
        else
            reply.status = 500;
        return reply;
    });
    DatasetCache cache;
    Recorder recorder;
    cache.addErrorCallback([&](const Error& e) { recorder(e); });

    // Without credentials: nothing, and an authorization failure for the dialog to react on.
    EXPECT_TRUE(cache.load(Filesystem::Url(server.url("/good")), nullptr, nullptr, true).empty());
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0].code, WebClientErrors::AuthorizationFailed);
    EXPECT_EQ(recorder.errors[0].type, Error::Fatal);
    recorder.errors.clear();
    auto provider = std::make_shared<Network::HttpAuthorizationProvider>();
    provider->setBasic("alice", "secret");
    cache.setAuthorizationProvider(provider);
    EXPECT_EQ(cache.load(Filesystem::Url(server.url("/good")), nullptr, nullptr, true).size(), 2u);
    EXPECT_TRUE(recorder.errors.empty());

    auto broken = cache.load(Filesystem::Url(server.url("/broken")), nullptr, nullptr, true);
    ASSERT_EQ(broken.size(), 1u);
    EXPECT_EQ(text(*broken[0], DCM_PatientID), "1CT1");
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0].code, WebClientErrors::PartialResult);
    EXPECT_EQ(recorder.errors[0].type, Error::Warning);

    EXPECT_EQ(cache.load(Filesystem::Url(server.url("/cut")), nullptr, nullptr, true).size(), 1u);
    ASSERT_EQ(recorder.errors.size(), 2u);
    EXPECT_EQ(recorder.errors[1].code, WebClientErrors::PartialResult);
    EXPECT_NE(recorder.errors[1].message.find("ended early"), std::string::npos);

    EXPECT_TRUE(cache.load(Filesystem::Url(server.url("/fail")), nullptr, nullptr, true).empty());
    ASSERT_EQ(recorder.errors.size(), 3u);
    EXPECT_EQ(recorder.errors[2].code, WebClientErrors::RequestFailed);
}

TEST(WebWadoRetrieval, SplitsMultipartBodiesWithQuotedOrMissingBoundaryParameter)
{
    const std::string body = "--abc\r\nContent-Type: application/dicom\r\n\r\nONE\r\n--abc\r\n\r\nTWO\r\n--abc--\r\n";
    bool complete = false;
    EXPECT_EQ(WadoRetriever::splitMultipart(body, "multipart/related; boundary=\"abc\"", &complete),
              (std::vector<std::string>{"ONE", "TWO"}));
    EXPECT_TRUE(complete);
    EXPECT_EQ(WadoRetriever::splitMultipart(body, "multipart/related", &complete).size(), 2u);
    EXPECT_EQ(WadoRetriever::splitMultipart(body.substr(0, 60), "multipart/related; boundary=abc", &complete),
              std::vector<std::string>{"ONE"});
    EXPECT_FALSE(complete);
    EXPECT_EQ(WadoRetriever::splitMultipart(body, "multipart/related; Type=x ; BOUNDARY = abc ;q=1", &complete).size(),
              2u);
    // Boundaries of tens of thousands of characters are refused, in the header or in the body.
    const std::string longBoundary(40000, 'a');
    const std::string longBody = "--" + longBoundary + "\r\n\r\nONE\r\n--" + longBoundary + "--\r\n";
    EXPECT_TRUE(
        WadoRetriever::splitMultipart(longBody, "multipart/related; boundary=" + longBoundary, &complete).empty());
    EXPECT_TRUE(WadoRetriever::splitMultipart(longBody, "multipart/related", &complete).empty());
}

}  // namespace
}  // namespace Dravelin::Dicom
