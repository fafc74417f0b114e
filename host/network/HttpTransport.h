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
// ends the request, so no thread waits forever. Only http and https are followed, also on
// redirects. The authorization provider's header goes with every request; credentials in
// the URL itself are used when the provider has none.
class HttpTransport
{
public:
    using Result = std::variant<HttpResponse, HttpError>;
    // Polled while a transfer runs; true aborts it.
    using CancelCheck = std::function<bool()>;

    HttpTransport();
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    void setAuthorizationProvider(std::shared_ptr<HttpAuthorizationProvider> provider);
    std::shared_ptr<HttpAuthorizationProvider> authorizationProvider() const;

    // connect: time to establish a connection; stall: longest time without any data.
    void setTimeouts(long connectMs, long stallMs);
    // Answers above this size are refused (0: no limit).
    void setMaximumBodySize(long long bytes);

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
    long m_connectTimeoutMs = 10000;
    long m_stallTimeoutMs = 30000;
    long long m_maxBodySize = 0;
};

}  // namespace Dravelin::Network
