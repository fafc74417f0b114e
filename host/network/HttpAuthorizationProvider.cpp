#include "host/network/HttpAuthorizationProvider.h"

#include <QByteArray>

namespace Dravelin::Network {

void HttpAuthorizationProvider::setBasic(const std::string& user, const std::string& password)
{
    const QByteArray pair = QByteArray::fromStdString(user + ":" + password);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_header = "Basic " + pair.toBase64().toStdString();
}

void HttpAuthorizationProvider::setBearerToken(const std::string& token)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_header = token.empty() ? std::string() : "Bearer " + token;
}

void HttpAuthorizationProvider::clearCredentials()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_header.clear();
}

bool HttpAuthorizationProvider::hasCredentials() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_header.empty();
}

void HttpAuthorizationProvider::setCredentialRequest(CredentialRequest request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_request = std::move(request);
}

bool HttpAuthorizationProvider::requestCredentials(const Filesystem::Url& url, const std::string& message)
{
    CredentialRequest request;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        request = m_request;
    }
    // Called without the lock: the answer usually sets the credentials.
    if (!request)
        return false;
    try {
        return request(*this, url, message);
    } catch (...) {
        return false;
    }
}

std::string HttpAuthorizationProvider::authorizationHeader(const Filesystem::Url&) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_header;
}

}  // namespace Dravelin::Network
