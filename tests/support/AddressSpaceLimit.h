#pragma once

#include <sys/resource.h>

#include <cstddef>

namespace Dravelin::Test {

// Caps this process's address space at what it uses now plus `headroom` bytes, for the life of
// the object: a reader that balloons then fails its test with std::bad_alloc instead of taking
// the machine's memory. AddressSanitizer reserves terabytes of shadow memory up front, so under
// it the cap is not set (active() is false) and its own limits apply.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(std::size_t headroom);
    ~AddressSpaceLimit();
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

    bool active() const { return m_active; }

    // Whether a cap can be set in this build (false under AddressSanitizer).
    static bool available();

private:
    rlimit m_previous{};
    bool m_active = false;
};

}  // namespace Dravelin::Test
