#include "host/network/HttpTransport.h"
#include "tests/support/HttpTestServer.h"

#include <gtest/gtest.h>

#include <zlib.h>

namespace Dravelin::Network {
namespace {

using Test::HttpTestServer;

std::string gzipped(const std::string& text)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TEST(HttpTransport, CapsBodiesAfterDecompressionAndEndsTricklingTransfers)
{
    const std::string bomb = gzipped(std::string(8 << 20, ' '));
    HttpTestServer server([&bomb](const HttpTestServer::Request& request) {
        HttpTestServer::Reply reply;
        if (request.path == "/big") {
            reply.body = std::string(2 << 20, 'x');
        } else if (request.path == "/gzip") {
            reply.body = bomb;
            reply.headers.emplace_back("Content-Encoding", "gzip");
        } else if (request.path == "/trickle") {
            reply.body = std::string(1000, 'x');
            reply.mode = HttpTestServer::Reply::Mode::Trickle;
        } else {
            reply.body = std::string(1 << 20, 'x');
        }
        return reply;
    });
    HttpTransport transport;
    transport.setMaximumBodySize(1 << 20);
    transport.setTotalTimeout(500);
    const struct
    {
        const char* path;
        const char* error;  // empty: the answer arrives whole
    } cases[] = {{"/exact", ""},
                 {"/big", "the answer is larger than 1048576 bytes"},
                 {"/gzip", "the answer is larger than 1048576 bytes"},
                 {"/trickle", "did not answer in time"}};
    for (const auto& c : cases) {
        const auto result = transport.get(Filesystem::Url(server.url(c.path)), {});
        if (*c.error == '\0') {
            ASSERT_TRUE(std::holds_alternative<HttpResponse>(result)) << c.path;
            EXPECT_EQ(std::get<HttpResponse>(result).body.size(), 1u << 20);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<HttpError>(result)) << c.path;
        EXPECT_NE(std::get<HttpError>(result).message.find(c.error), std::string::npos)
            << c.path << ": " << std::get<HttpError>(result).message;
    }
}

}  // namespace
}  // namespace Dravelin::Network
