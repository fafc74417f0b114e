#include "host/network/HttpTransport.h"

#include "host/core/Log.h"

#include <QByteArray>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string_view>

namespace Dravelin::Network {

namespace {

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer
{
    HttpResponse response;
    long long maxBodySize = 0;
    bool tooLarge = false;
    const HttpTransport::CancelCheck* cancelled = nullptr;
};

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->maxBodySize > 0 &&
        static_cast<long long>(transfer->response.body.size() + bytes) > transfer->maxBodySize) {
        transfer->tooLarge = true;
        return 0;
    }
    transfer->response.body.append(data, bytes);
    return bytes;
}

std::string trimmed(std::string text)
{
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    const std::string line(data, bytes);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new status line: headers of a redirect or of "100 Continue" do not count.
        transfer->response.headers.clear();
    } else if (const auto colon = line.find(':'); colon != std::string::npos) {
        transfer->response.headers.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    }
    return bytes;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* transfer = static_cast<Transfer*>(user);
    return (transfer->cancelled && *transfer->cancelled && (*transfer->cancelled)()) ? 1 : 0;
}

}  // namespace

namespace {
std::mutex g_defaultsMutex;
HttpTransport::Limits g_defaults;
}  // namespace

HttpTransport::Limits HttpTransport::defaultLimits()
{
    std::lock_guard<std::mutex> lock(g_defaultsMutex);
    return g_defaults;
}

void HttpTransport::setDefaultLimits(const Limits& limits)
{
    std::lock_guard<std::mutex> lock(g_defaultsMutex);
    g_defaults = limits;
}

HttpTransport::HttpTransport() : m_limits(defaultLimits()) {}

HttpTransport::~HttpTransport()
{
    for (void* handle : m_idleHandles)
        curl_easy_cleanup(static_cast<CURL*>(handle));
}

void HttpTransport::setAuthorizationProvider(std::shared_ptr<HttpAuthorizationProvider> provider)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_provider = std::move(provider);
}

std::shared_ptr<HttpAuthorizationProvider> HttpTransport::authorizationProvider() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_provider;
}

void HttpTransport::setTimeouts(long connectMs, long stallMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_limits.connectMs = std::max(1L, connectMs);
    m_limits.stallMs = std::max(1L, stallMs);
}

void HttpTransport::setMaximumBodySize(long long bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_limits.maxBodySize = bytes;
}

void HttpTransport::setTotalTimeout(long ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_limits.totalMs = std::max(0L, ms);
}

std::string HttpTransport::requestUrl(const Filesystem::Url& url)
{
    const std::string target =
        url.qUrl().toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment).toStdString();
    const QByteArray query = url.qUrl().query(QUrl::FullyEncoded).toLatin1();
    if (query.isEmpty())
        return target;
    // Search servers match query values as they arrive, some without decoding them: Orthanc
    // finds nothing for "PatientName=Doe%5EPeter". Printable ASCII goes out as it is, except
    // what would change the query's structure or meaning (space, "%", "&", "=", "#", "+").
    std::string sent;
    sent.reserve(static_cast<size_t>(query.size()));
    for (int i = 0; i < query.size(); ++i) {
        if (query[i] == '%' && i + 2 < query.size() && std::isxdigit(static_cast<unsigned char>(query[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(query[i + 2]))) {
            const char c = static_cast<char>(QByteArray::fromHex(query.mid(i + 1, 2)).at(0));
            if (c > ' ' && c < 0x7F && std::string_view("%&=#+").find(c) == std::string_view::npos) {
                sent += c;
                i += 2;
                continue;
            }
        }
        sent += query[i];
    }
    return target + "?" + sent;
}

void* HttpTransport::acquireHandle()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_idleHandles.empty()) {
            void* handle = m_idleHandles.back();
            m_idleHandles.pop_back();
            return handle;
        }
    }
    // Not in the constructor: every dataset cache has a transport, and curl's set-up (TLS
    // libraries included) is only worth its time when a request is made.
    initCurlOnce();
    return curl_easy_init();
}

void HttpTransport::releaseHandle(void* handle)
{
    // Keeps the handle's open connections for the next request.
    curl_easy_reset(static_cast<CURL*>(handle));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idleHandles.push_back(handle);
}

HttpTransport::Result HttpTransport::get(const Filesystem::Url& url, const std::vector<std::string>& headers,
                                         const CancelCheck& cancelled)
{
    const std::string target = requestUrl(url);
    const std::string scheme = url.scheme();
    if (scheme != "http" && scheme != "https")
        return HttpError(HttpStatus::BadRequest, "Not an http(s) URL: " + target);

    std::shared_ptr<HttpAuthorizationProvider> provider;
    Limits limits;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        provider = m_provider;
        limits = m_limits;
    }
    const long long maxBody = limits.maxBodySize;
    std::string authorization = provider ? provider->authorizationHeader(url) : std::string();
    if (authorization.empty() && !url.userName().empty()) {
        const QByteArray pair = QByteArray::fromStdString(url.userName() + ":" + url.password());
        authorization = "Basic " + pair.toBase64().toStdString();
    }

    CURL* curl = static_cast<CURL*>(acquireHandle());
    if (!curl)
        return HttpError(HttpStatus::NoResponse, "Cannot create an HTTP request for " + target);

    curl_slist* headerList = nullptr;
    for (const std::string& header : headers)
        headerList = curl_slist_append(headerList, header.c_str());
    if (!authorization.empty())
        headerList = curl_slist_append(headerList, ("Authorization: " + authorization).c_str());

    Transfer transfer;
    transfer.maxBodySize = maxBody;
    transfer.cancelled = &cancelled;
    char errorText[CURL_ERROR_SIZE] = {0};

    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMs);
    // A transfer slower than one byte per second for the stall time is a silent server; one
    // that trickles faster still ends at the total limit.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, (limits.stallMs + 999) / 1000));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.totalMs);
    // A declared length past the cap fails before any byte arrives.
    if (maxBody > 0)
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBody));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);

    DRAVELIN_LOG(0, "DICOM", "GET " + target);
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_slist_free_all(headerList);
    releaseHandle(curl);

    if (code != CURLE_OK) {
        std::string reason = errorText[0] ? errorText : curl_easy_strerror(code);
        if (code == CURLE_OPERATION_TIMEDOUT)
            reason = "the server did not answer in time (" + reason + ")";
        else if (code == CURLE_FILESIZE_EXCEEDED || (code == CURLE_WRITE_ERROR && transfer.tooLarge))
            reason = "the answer is larger than " + std::to_string(maxBody) + " bytes";
        else if (code == CURLE_ABORTED_BY_CALLBACK)
            reason = "cancelled";
        return HttpError(HttpStatus::NoResponse, "Request to " + target + " failed: " + reason);
    }
    transfer.response.status = static_cast<HttpStatus>(status);
    return std::move(transfer.response);
}

}  // namespace Dravelin::Network
