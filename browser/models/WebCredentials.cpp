#include "browser/models/WebCredentials.h"

#include "browser/models/PasswordStore.h"
#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/network/HttpAuthorizationProvider.h"

#include <mutex>

namespace Dravelin {

namespace {

std::mutex s_applicationMutex;
std::shared_ptr<WebCredentials> s_application;

// The keyring holds one text per server: the user name, a line break, the password.
std::string encode(const WebCredentials::Login& login)
{
    return login.user + "\n" + login.password;
}

std::optional<WebCredentials::Login> decode(const std::string& secret)
{
    const auto split = secret.find('\n');
    if (split == std::string::npos)
        return std::nullopt;
    return WebCredentials::Login{secret.substr(0, split), secret.substr(split + 1)};
}

}  // namespace

WebCredentials::WebCredentials(std::shared_ptr<PasswordStore> store, Ask ask)
    : m_store(std::move(store)), m_ask(std::move(ask))
{
}

std::shared_ptr<WebCredentials> WebCredentials::application()
{
    std::lock_guard<std::mutex> lock(s_applicationMutex);
    return s_application;
}

void WebCredentials::setApplication(std::shared_ptr<WebCredentials> credentials)
{
    std::lock_guard<std::mutex> lock(s_applicationMutex);
    s_application = std::move(credentials);
}

std::string WebCredentials::serverKey(const Filesystem::Url& url)
{
    return url.string(Filesystem::Url::RemoveUserInfo | Filesystem::Url::RemoveQuery | Filesystem::Url::RemoveFragment);
}

void WebCredentials::takeUserInfo(Filesystem::Url& url)
{
    if (url.userInfo().empty())
        return;
    keep(serverKey(url), Login{url.userName(), url.password()});
    url.setUserInfo({});
}

void WebCredentials::prepare(Network::HttpAuthorizationProvider& provider, const Filesystem::Url& url)
{
    const auto known = m_run.find(serverKey(url));
    if (known == m_run.end())
        provider.clearCredentials();
    else
        provider.setBasic(known->second.user, known->second.password);
}

bool WebCredentials::answerUnauthorized(Network::HttpAuthorizationProvider& provider, const Filesystem::Url& url)
{
    const std::string server = serverKey(url);
    // A 401 to a request that carried a login is a refusal; otherwise the server wants one.
    const bool refused = provider.hasCredentials();
    std::string user;
    if (const auto known = m_run.find(server); known != m_run.end()) {
        user = known->second.user;
        if (refused)
            m_run.erase(known);
    }
    if (!refused && m_store) {
        if (const auto stored = m_store->read(server)) {
            if (const auto login = decode(*stored)) {
                m_run[server] = *login;
                provider.setBasic(login->user, login->password);
                return true;
            }
        }
    }
    const std::optional<Login> login =
        m_ask ? m_ask(server, user, refused ? "Invalid username or password" : "") : std::nullopt;
    if (!login) {
        provider.clearCredentials();
        return false;
    }
    keep(server, *login);
    provider.setBasic(login->user, login->password);
    return true;
}

void WebCredentials::keep(const std::string& server, const Login& login)
{
    m_run[server] = login;
    if (m_store && m_store->write(server, encode(login)))
        return;
    if (!m_storeFailureLogged)
        Log::log(2, "DICOM",
                 "No desktop keyring to keep DICOMweb logins in: they are asked for once per run of the application",
                 __FILE__, __LINE__);
    m_storeFailureLogged = true;
}

}  // namespace Dravelin
