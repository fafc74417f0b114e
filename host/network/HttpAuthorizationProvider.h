#pragma once

#include "host/core/Url.h"

#include <functional>
#include <mutex>
#include <string>

namespace Dravelin::Network {

// Credentials for DICOMweb servers, shared by every request of the web client and of the
// dataset cache (searches and retrievals alike). Thread-safe: requests read the header from
// pool threads while the user interface may change the credentials.
//
// The credential request is how a user is asked: the browser dialog answers it with a login
// dialog, the command line from its options or environment. It must return false when the
// user declined, which ends the attempt.
class HttpAuthorizationProvider
{
public:
    using CredentialRequest = std::function<bool(HttpAuthorizationProvider& provider, const Filesystem::Url& url,
                                                 const std::string& message)>;

    HttpAuthorizationProvider() = default;
    virtual ~HttpAuthorizationProvider() = default;
    HttpAuthorizationProvider(const HttpAuthorizationProvider&) = delete;
    HttpAuthorizationProvider& operator=(const HttpAuthorizationProvider&) = delete;

    void setBasic(const std::string& user, const std::string& password);
    void setBearerToken(const std::string& token);
    void clearCredentials();
    bool hasCredentials() const;

    void setCredentialRequest(CredentialRequest request);
    // Asks for credentials for `url`; `message` explains why (e.g. "Invalid username or
    // password", empty on the first attempt). False when nobody can answer or the user declined.
    virtual bool requestCredentials(const Filesystem::Url& url, const std::string& message);

    // The value of the Authorization header for a request to `url`; empty when none.
    virtual std::string authorizationHeader(const Filesystem::Url& url) const;

private:
    mutable std::mutex m_mutex;
    std::string m_header;
    CredentialRequest m_request;
};

}  // namespace Dravelin::Network
