#pragma once

#include <optional>
#include <string>

namespace Dravelin {

// Where DICOMweb logins are kept between runs: the desktop keyring in the application, a map in
// tests. Secrets are stored by key (the server's address without user information).
class PasswordStore
{
public:
    virtual ~PasswordStore() = default;

    // The secret stored under `key`; nothing when none is stored or the store cannot be reached.
    virtual std::optional<std::string> read(const std::string& key) = 0;
    // False when the secret could not be stored (no keyring running, access refused).
    virtual bool write(const std::string& key, const std::string& secret) = 0;
    virtual void remove(const std::string& key) = 0;
};

}  // namespace Dravelin
