#pragma once

#include "browser/models/PasswordStore.h"

#include <QString>

namespace Dravelin {

// The desktop keyring (the Secret Service) through QtKeychain. Never falls back to a plain-text
// file: without a keyring, reads find nothing and writes fail. Each call waits for the keyring in
// a local event loop, as a modal dialog does, so the GUI stays responsive.
class KeychainPasswordStore : public PasswordStore
{
public:
    explicit KeychainPasswordStore(QString service = QStringLiteral("Dravelin DICOMweb"));

    std::optional<std::string> read(const std::string& key) override;
    bool write(const std::string& key, const std::string& secret) override;
    void remove(const std::string& key) override;

    // The keyring's message for the last failed call; empty after a success.
    QString lastError() const;

private:
    QString m_service;
    QString m_lastError;
};

}  // namespace Dravelin
