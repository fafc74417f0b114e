#pragma once

#include "host/core/Url.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "host/network/HttpError.h"
#include "host/network/HttpResponse.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace Dravelin::Network {

// Blocking HTTP(S) GET over libcurl, safe for concurrent use from many threads.
//
// Connections are kept alive and reused: every finished transfer returns its curl handle,
// with its open connections, to a pool that the next request takes from. TLS peers and host
// names are always verified. A server that stops sending for longer than the stall timeout
// ends the request, and every request ends after a total time limit however the server
// trickles, so no thread waits forever. Answers are capped in size after decompression (a
// small gzip answer can inflate to gigabytes). Only http and https are followed, also on
// redirects. The authorization provider's header goes with every request; credentials in
// the URL itself are used when the provider has none.
class HttpTransport
{
public:
    using Result = std::variant<HttpResponse, HttpError>;
    // Polled while a transfer runs; true aborts it.
    using CancelCheck = std::function<bool()>;

    // What a new transport starts with; a command line sets them once from its options.
    struct Limits
    {
        long connectMs = 10000;
        long stallMs = 30000;
        long totalMs = 120000;
        long long maxBodySize = 512LL << 20;
    };
    static Limits defaultLimits();
    static void setDefaultLimits(const Limits& limits);

    HttpTransport();
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    void setAuthorizationProvider(std::shared_ptr<HttpAuthorizationProvider> provider);
    std::shared_ptr<HttpAuthorizationProvider> authorizationProvider() const;

    // connect: time to establish a connection; stall: longest time without any data.
    void setTimeouts(long connectMs, long stallMs);
    // Answers above this size (after decompression) are refused (0: no limit).
    void setMaximumBodySize(long long bytes);
    // The longest a request may take from start to end (0: no limit).
    void setTotalTimeout(long ms);

    // Any HTTP answer is a response, error statuses included; an HttpError (status
    // NoResponse) means no complete answer arrived.
    Result get(const Filesystem::Url& url, const std::vector<std::string>& headers, const CancelCheck& cancelled = {});

    // The text curl is given for `url`: encoded, without user info and fragment.
    static std::string requestUrl(const Filesystem::Url& url);

private:
    void* acquireHandle();
    void releaseHandle(void* handle);

    mutable std::mutex m_mutex;
    std::vector<void*> m_idleHandles;
    std::shared_ptr<HttpAuthorizationProvider> m_provider;
    Limits m_limits;
};

}  // namespace Dravelin::Network
