#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace Dravelin {

class PasswordStore;

namespace Filesystem {
class Url;
}
namespace Network {
class HttpAuthorizationProvider;
}

// The logins of DICOMweb servers, asked for only when a server answers 401. A login the user
// gives is kept for the rest of the run and in the password store (the desktop keyring), never in
// settings or recent lists; without a keyring each server is asked for once per run.
class WebCredentials
{
public:
    struct Login
    {
        std::string user;
        std::string password;
    };
    // Asks the user for a login to `server`; `user` pre-fills the name, `message` says why a
    // second time. Nothing when the user declined.
    using Ask = std::function<std::optional<Login>(const std::string& server, const std::string& user,
                                                   const std::string& message)>;

    WebCredentials(std::shared_ptr<PasswordStore> store, Ask ask);

    // The credentials of the application: the desktop keyring and the login dialog.
    static std::shared_ptr<WebCredentials> application();
    static void setApplication(std::shared_ptr<WebCredentials> credentials);

    // Takes a login written into `url` (user:password@) as the user's answer and removes it from
    // `url`, so that the rest of the scan and the recent list see the address only.
    void takeUserInfo(Filesystem::Url& url);
    // Before a scan of `url`: `provider` sends the login known for that server, or none (a
    // login of another server must not travel).
    void prepare(Network::HttpAuthorizationProvider& provider, const Filesystem::Url& url);
    // After `url` answered 401: the next login to try is set on `provider`, from the keyring
    // first and then from the user. False when the user declined.
    bool answerUnauthorized(Network::HttpAuthorizationProvider& provider, const Filesystem::Url& url);

    // The key a server's login is stored under: its address without user information or query.
    static std::string serverKey(const Filesystem::Url& url);

private:
    void keep(const std::string& server, const Login& login);

    std::shared_ptr<PasswordStore> m_store;
    Ask m_ask;
    std::map<std::string, Login> m_run;  // logins of this run, by server
    bool m_storeFailureLogged = false;
};

}  // namespace Dravelin
