#include "browser/models/KeychainPasswordStore.h"
#include "browser/models/WebCredentials.h"
#include "host/core/Url.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "tests/browser/MemoryPasswordStore.h"
#include "tests/support/TestEnvironment.h"

#include <QDirIterator>
#include <QScopeGuard>
#include <QSettings>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace Dravelin;
namespace DT = Dravelin::Test;

namespace {

const Filesystem::Url kServer("https://pacs.example/dicom-web?PatientName=DOE");
const std::string kKey = "https://pacs.example/dicom-web";

struct Session
{
    explicit Session(std::shared_ptr<DT::MemoryPasswordStore> keyring)
        : credentials(std::move(keyring),
                      [this](const std::string& server, const std::string& user, const std::string& message) {
                          asked.push_back(server + "|" + user + "|" + message);
                          return WebCredentials::Login{"bob", "pw"};
                      })
    {
    }
    // One scan of `url` that the server answers with 401 `unauthorized` times.
    std::string scan(const Filesystem::Url& url, int unauthorized = 1)
    {
        credentials.prepare(provider, url);
        for (int i = 0; i < unauthorized; ++i)
            if (!credentials.answerUnauthorized(provider, url))
                return "declined";
        return provider.authorizationHeader(url);
    }
    std::vector<std::string> asked;
    Network::HttpAuthorizationProvider provider;
    WebCredentials credentials;
};

}  // namespace

// A login in the keyring answers the first 401 without a question; without a keyring the user is
// asked once per run, and a login never travels to another server.
TEST(WebCredentials, TheKeyringAnswersFirstAndWithoutOneEachRunAsksOnce)
{
    const std::string bob = "Basic Ym9iOnB3";
    auto keyring = std::make_shared<DT::MemoryPasswordStore>();
    keyring->secrets[kKey] = "bob\npw";
    Session stored(keyring);
    EXPECT_EQ(stored.scan(kServer), bob);
    EXPECT_TRUE(stored.asked.empty());
    // The stored login is refused: the user is asked, with the name filled in.
    EXPECT_EQ(stored.scan(kServer), bob);
    EXPECT_EQ(stored.asked, std::vector<std::string>{kKey + "|bob|Invalid username or password"});

    keyring->available = false;
    for (int run = 0; run < 2; ++run) {
        Session noKeyring(keyring);
        EXPECT_EQ(noKeyring.scan(kServer), bob);
        EXPECT_EQ(noKeyring.scan(kServer, 0), bob);
        EXPECT_EQ(noKeyring.scan(Filesystem::Url("https://other.example/dicom-web"), 0), "");
        EXPECT_EQ(noKeyring.asked, std::vector<std::string>{kKey + "||"}) << run;
    }
}

// The desktop keyring: under a session bus with a Secret Service (ctest runs this case under
// dbus-run-session with gnome-keyring) a login goes in and comes back; without one nothing is
// stored, and never in a plain-text file instead.
TEST(KeychainPasswordStore, StoresInTheSecretServiceOrNowhere)
{
    DT::TempDir home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    KeychainPasswordStore store(QStringLiteral("Dravelin test"));
    if (qEnvironmentVariableIsSet("DRAVELIN_TEST_SECRET_SERVICE")) {
        ASSERT_TRUE(store.write(kKey, "alice\nsecret")) << store.lastError().toStdString();
        EXPECT_EQ(store.read(kKey), std::optional<std::string>("alice\nsecret"));
        store.remove(kKey);
        EXPECT_EQ(store.read(kKey), std::nullopt);
        return;
    }
    // No session bus to be found: not named, not at the runtime folder's default socket, and none
    // to autolaunch on a display. A write that reports success here went somewhere else.
    std::vector<std::pair<const char*, QByteArray>> saved;
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY"}) {
        saved.emplace_back(name, qgetenv(name));
        qunsetenv(name);
    }
    const auto restore = qScopeGuard([&] {
        for (const auto& [name, value] : saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    });
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    EXPECT_FALSE(store.write(kKey, "alice\nsecret"));
    EXPECT_FALSE(store.lastError().isEmpty());
    EXPECT_EQ(store.read(kKey), std::nullopt);
    QSettings().sync();
    for (QDirIterator it(home.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_FALSE(file.readAll().contains("secret")) << file.fileName().toStdString();
    }
}
