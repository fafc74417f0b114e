#pragma once

#include "browser/models/PasswordStore.h"

#include <map>

namespace Dravelin::Test {

// A keyring in memory; `available` false plays a desktop without one.
class MemoryPasswordStore : public PasswordStore
{
public:
    std::optional<std::string> read(const std::string& key) override
    {
        const auto found = secrets.find(key);
        if (!available || found == secrets.end())
            return std::nullopt;
        return found->second;
    }
    bool write(const std::string& key, const std::string& secret) override
    {
        if (available)
            secrets[key] = secret;
        return available;
    }
    void remove(const std::string& key) override { secrets.erase(key); }

    bool available = true;
    std::map<std::string, std::string> secrets;
};

}  // namespace Dravelin::Test
