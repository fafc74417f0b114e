#include "host/dicom/Utils.h"
#include "tests/host/dicom/dicomweb/WebTestItems.h"
#include "host/dicom/dicomweb/WebClient.h"
#include "host/dicom/dicomweb/WebClientErrors.h"
#include "tests/support/HttpTestServer.h"

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <mutex>
#include <thread>

namespace Dravelin::Dicom {
namespace {

using WebTest::itemsOf;
using WebTest::text;

using Test::HttpTestServer;

std::string uidItem(const char* tag, const std::string& uid)
{
    return "{\"" + std::string(tag) + "\": {\"vr\": \"UI\", \"Value\": [\"" + uid + "\"]}}";
}

Network::HttpError errorOf(WebClient::Result result)
{
    EXPECT_TRUE(std::holds_alternative<Network::HttpError>(result));
    return std::holds_alternative<Network::HttpError>(result) ? std::get<Network::HttpError>(result)
                                                              : Network::HttpError();
}

TEST(WebClient, BuildsSearchUrlsFromTheRootAndFillsParentUids)
{
    HttpTestServer server([](const HttpTestServer::Request& request) {
        if (request.path == "/dicomweb/studies")
            return HttpTestServer::json("[" + uidItem("0020000D", "1.2") + "]");
        if (request.path == "/dicomweb/studies/1.2/series")
            return HttpTestServer::json("[" + uidItem("0020000E", "1.2.3") + "]");
        if (request.path == "/dicomweb/studies/1.2/series/1.2.3/instances")
            return HttpTestServer::json("[" + uidItem("00080018", "1.2.3.4") + "]");
        return HttpTestServer::json("", 404);
    });
    WebClient client(Filesystem::Url(server.url("/dicomweb/?PatientName=X#frag")));
    EXPECT_EQ(client.baseUrl().string(), server.url("/dicomweb"));

    auto studies = itemsOf(client.getStudies("PatientName=DOE", true));
    ASSERT_EQ(studies.size(), 1u);
    auto series = itemsOf(client.getSeries(*studies[0], "", true));
    ASSERT_EQ(series.size(), 1u);
    EXPECT_EQ(text(*series[0], DCM_StudyInstanceUID), "1.2");
    auto instances = itemsOf(client.getInstances(*series[0], "includefield=00080008", false));
    ASSERT_EQ(instances.size(), 1u);
    EXPECT_EQ(text(*instances[0], DCM_StudyInstanceUID), "1.2");
    EXPECT_EQ(text(*instances[0], DCM_SeriesInstanceUID), "1.2.3");
    EXPECT_EQ(text(*instances[0], DCM_SOPInstanceUID), "1.2.3.4");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].query, "PatientName=DOE&fuzzymatching=true");
    EXPECT_EQ(requests[1].query, "");  // no filter, so no fuzzy matching either
    EXPECT_EQ(requests[2].query, "includefield=00080008");
    EXPECT_NE(requests[0].header("accept").find("application/dicom+json"), std::string::npos);

    // A study item without its UID cannot name its series.
    DcmItem empty;
    EXPECT_EQ(errorOf(client.getSeries(empty, "", true)).status, Network::HttpStatus::BadRequest);
}

TEST(WebClient, SendsTheProvidersCredentialsWithEveryRequest)
{
    HttpTestServer server([](const HttpTestServer::Request& request) {
        if (request.header("authorization") != "Bearer t0k3n")
            return HttpTestServer::json("", 401);
        return HttpTestServer::json("[" + uidItem("0020000D", "1.2") + "]");
    });
    std::vector<Error> recorded;
    WebClient client(Filesystem::Url(server.url()), [&](const Error& e) { recorded.push_back(e); });

    const Network::HttpError denied = errorOf(client.getStudies("", true));
    EXPECT_EQ(denied.status, Network::HttpStatus::Unauthorized);
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].code, WebClientErrors::AuthorizationFailed);
    EXPECT_EQ(recorded[0].type, Error::Fatal);

    auto provider = std::make_shared<Network::HttpAuthorizationProvider>();
    provider->setBearerToken("t0k3n");
    client.setAuthorizationProvider(provider);
    auto studies = itemsOf(client.getStudies("", true));
    ASSERT_EQ(studies.size(), 1u);
    EXPECT_EQ(itemsOf(client.getSeries(*studies[0], "", true)).size(), 1u);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].header("authorization"), "Bearer t0k3n");
    EXPECT_EQ(requests[2].header("authorization"), "Bearer t0k3n");
    EXPECT_EQ(requests[2].path, "/studies/1.2/series");

    provider->setBasic("alice", "secret");
    EXPECT_EQ(errorOf(client.getStudies("", true)).status, Network::HttpStatus::Unauthorized);
    EXPECT_EQ(server.requests().back().header("authorization"), "Basic YWxpY2U6c2VjcmV0");
}

TEST(WebClient, CredentialRequestIsAnsweredByItsCallback)
{
    Network::HttpAuthorizationProvider provider;
    const Filesystem::Url url("https://pacs.example/dicom-web");
    EXPECT_FALSE(provider.requestCredentials(url, ""));  // nobody to ask

    std::string seenMessage;
    provider.setCredentialRequest(
        [&](Network::HttpAuthorizationProvider& p, const Filesystem::Url& u, const std::string& message) {
            seenMessage = message;
            EXPECT_EQ(u, url);
            p.setBasic("bob", "pw");
            return true;
        });
    EXPECT_TRUE(provider.requestCredentials(url, "Invalid username or password"));
    EXPECT_EQ(seenMessage, "Invalid username or password");
    EXPECT_EQ(provider.authorizationHeader(url), "Basic Ym9iOnB3");
    provider.setCredentialRequest([](auto&, const auto&, const auto&) -> bool { throw std::runtime_error("x"); });
    EXPECT_FALSE(provider.requestCredentials(url, ""));
}

TEST(WebClient, ReportsHttpAndTransportFailuresWithTheirCategory)
{
    HttpTestServer server([](const HttpTestServer::Request& request) {
        if (request.path == "/500/studies")
            return HttpTestServer::json("{\"Message\": \"database down\"}", 500);
        if (request.path == "/malformed/studies")
            return HttpTestServer::json("[{\"0020000D\": {\"vr\": \"UI\", \"Value\": [\"1.2\"]}");
        if (request.path == "/truncated/studies") {
            auto reply = HttpTestServer::json("[" + uidItem("0020000D", "1.2") + "]");
            reply.mode = HttpTestServer::Reply::Mode::Truncated;
            return reply;
        }
        if (request.path == "/empty/studies")
            return HttpTestServer::json("", 204);
        return HttpTestServer::json("", 404);
    });
    std::mutex mutex;
    std::vector<Error> recorded;
    const auto recorder = [&](const Error& e) {
        std::lock_guard<std::mutex> lock(mutex);
        recorded.push_back(e);
    };

    const auto failure = [&](const std::string& path) {
        WebClient client(Filesystem::Url(server.url(path)), recorder);
        return errorOf(client.getStudies("", true));
    };
    const Network::HttpError status500 = failure("/500");
    EXPECT_EQ(status500.code(), 500);
    EXPECT_NE(status500.message.find("database down"), std::string::npos);
    EXPECT_EQ(recorded.back().code, WebClientErrors::RequestFailed);

    const Network::HttpError malformed = failure("/malformed");
    EXPECT_EQ(malformed.status, Network::HttpStatus::BadGateway);
    EXPECT_NE(malformed.message.find("Malformed DICOM JSON"), std::string::npos);
    EXPECT_EQ(recorded.back().code, WebClientErrors::NetworkFailure);

    const Network::HttpError truncated = failure("/truncated");
    EXPECT_EQ(truncated.status, Network::HttpStatus::NoResponse);
    EXPECT_EQ(recorded.back().code, WebClientErrors::NetworkFailure);
    EXPECT_EQ(recorded.back().type, Error::Fatal);

    EXPECT_EQ(failure("/missing").code(), 404);

    WebClient empty(Filesystem::Url(server.url("/empty")));
    EXPECT_TRUE(itemsOf(empty.getStudies("", true)).empty());

    auto closed = std::make_unique<HttpTestServer>(nullptr);
    WebClient refused{Filesystem::Url(closed->url())};
    closed.reset();  // nobody listens there any more
    EXPECT_EQ(errorOf(refused.getStudies("", true)).status, Network::HttpStatus::NoResponse);
}

TEST(WebClient, SilentServerEndsInATimeoutInsteadOfHanging)
{
    HttpTestServer server([](const HttpTestServer::Request&) {
        HttpTestServer::Reply reply;
        reply.mode = HttpTestServer::Reply::Mode::Silent;
        return reply;
    });
    WebClient client(Filesystem::Url(server.url()));
    client.setTimeouts(1000, 1000);
    const Network::HttpError error = errorOf(client.getStudies("", true));
    EXPECT_EQ(error.status, Network::HttpStatus::NoResponse);
    EXPECT_NE(error.message.find("did not answer in time"), std::string::npos) << error.message;
}

TEST(WebClient, PagesThroughACappedResult)
{
    // 7 studies, at most 3 per answer, with the standard warning while more remain.
    HttpTestServer server([](const HttpTestServer::Request& request) {
        int offset = 0;
        const auto pos = request.query.find("offset=");
        if (pos != std::string::npos)
            offset = std::stoi(request.query.substr(pos + 7));
        std::string body = "[";
        for (int i = offset; i < std::min(offset + 3, 7); ++i)
            body += (i > offset ? "," : "") + uidItem("0020000D", "1.2." + std::to_string(i));
        auto reply = HttpTestServer::json(body + "]");
        if (offset + 3 < 7)
            reply.headers.emplace_back("Warning",
                                       "299 test: \"The number of results exceeded the maximum supported by the "
                                       "server. Additional results can be requested.\"");
        return reply;
    });
    WebClient client(Filesystem::Url(server.url()));
    auto studies = itemsOf(client.getStudies("StudyDate=2020", false));
    ASSERT_EQ(studies.size(), 7u);
    for (size_t i = 0; i < studies.size(); ++i)
        EXPECT_EQ(text(*studies[i], DCM_StudyInstanceUID), "1.2." + std::to_string(i));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].query, "StudyDate=2020&offset=3");
    EXPECT_EQ(requests[2].query, "StudyDate=2020&offset=6");
    // Sequential requests reuse one kept-alive connection.
    EXPECT_EQ(server.connectionCount(), 1);

    // A caller that pages itself gets exactly the page it asked for.
    EXPECT_EQ(itemsOf(client.getStudies("limit=3", false)).size(), 3u);
}

TEST(WebClient, StopsPagingWhenAPageAddsNothingNew)
{
    // A server that ignores the offset and always claims more results.
    HttpTestServer server([](const HttpTestServer::Request&) {
        auto reply =
            HttpTestServer::json("[" + uidItem("0020000D", "1.2.1") + "," + uidItem("0020000D", "1.2.2") + "]");
        reply.headers.emplace_back("Warning", "299 test: \"Additional results can be requested.\"");
        return reply;
    });
    WebClient client(Filesystem::Url(server.url()));
    EXPECT_EQ(itemsOf(client.getStudies("", false)).size(), 2u);
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST(WebClient, ServesManyThreadsAtOnce)
{
    HttpTestServer server(
        [](const HttpTestServer::Request&) { return HttpTestServer::json("[" + uidItem("0020000D", "9.9") + "]"); });
    WebClient client(Filesystem::Url(server.url()));
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                auto result = client.getStudies("", true);
                if (auto* items = std::get_if<WebClient::Items>(&result); items && items->size() == 1)
                    ++good;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good, 120);
    EXPECT_LE(server.connectionCount(), 6);  // connections are pooled, not opened per request
}

TEST(WebClient, WarnsAboutRiskyUrls)
{
    for (const auto& [url, warning] :
         {std::pair{"", ""},
          {"https://pacs.example/dicom-web", ""},
          {"http://127.0.0.1:8042/dicom-web", ""},
          {"http://pacs.example/dicom-web", "not encrypted"},
          {"http://bob:pw@pacs.example/dicom-web", "credentials that would be sent unencrypted"},
          {"ftp://pacs.example", "not a valid DICOMweb URL"}}) {
        const std::string given = Utils::checkDicomWebUrlWarnings(url);
        EXPECT_TRUE(*warning ? given.find(warning) != std::string::npos : given.empty()) << url << ": " << given;
    }
    EXPECT_NE(Utils::checkDicomWebUrlWarnings("http://bob:pw@pacs.example").find("password"), std::string::npos);
}

}  // namespace
}  // namespace Dravelin::Dicom
