#include "browser/models/KeychainPasswordStore.h"

#include <QEventLoop>
#include <QTimer>

#include <qt5keychain/keychain.h>

namespace Dravelin {

namespace {

// A keyring that does not answer (a hung D-Bus service) must not hold the login forever.
constexpr int kTimeoutMs = 10000;

// Runs `job` to its end; false (with the keyring's message in `error`) when it failed.
bool run(QKeychain::Job& job, QString& error)
{
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(kTimeoutMs, &loop, &QEventLoop::quit);
    job.start();
    if (!finished)
        loop.exec();
    if (!finished) {
        error = QStringLiteral("the keyring did not answer");
        return false;
    }
    error = job.error() == QKeychain::NoError ? QString() : job.errorString();
    return job.error() == QKeychain::NoError;
}

}  // namespace

KeychainPasswordStore::KeychainPasswordStore(QString service) : m_service(std::move(service)) {}

std::optional<std::string> KeychainPasswordStore::read(const std::string& key)
{
    QKeychain::ReadPasswordJob job(m_service);
    job.setKey(QString::fromStdString(key));
    if (!run(job, m_lastError))
        return std::nullopt;
    return job.textData().toStdString();
}

bool KeychainPasswordStore::write(const std::string& key, const std::string& secret)
{
    QKeychain::WritePasswordJob job(m_service);
    job.setKey(QString::fromStdString(key));
    job.setTextData(QString::fromStdString(secret));
    return run(job, m_lastError);
}

void KeychainPasswordStore::remove(const std::string& key)
{
    QKeychain::DeletePasswordJob job(m_service);
    job.setKey(QString::fromStdString(key));
    run(job, m_lastError);
}

QString KeychainPasswordStore::lastError() const
{
    return m_lastError;
}

}  // namespace Dravelin
