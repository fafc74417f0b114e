#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace Dravelin::Tools {

// Deterministic UIDs: the same seed and path of numbers always give the same UID, so
// generated data sets are reproducible byte for byte. UIDs live under the "2.25" arc
// (a single decimal integer), derived by hashing the seed and the path.
class UidFactory
{
public:
    explicit UidFactory(std::uint64_t seed) : m_seed(seed) {}

    // kind separates the levels (patient, study, series, instance); numbers locate the record.
    std::string uid(int kind, std::initializer_list<int> numbers) const;

private:
    std::uint64_t m_seed;
};

}  // namespace Dravelin::Tools
