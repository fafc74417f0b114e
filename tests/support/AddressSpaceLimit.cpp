#include "tests/support/AddressSpaceLimit.h"

#include <fstream>
#include <string>

namespace Dravelin::Test {

namespace {

// VmSize of this process in bytes, 0 when unknown.
std::size_t virtualSize()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmSize:") {
            std::size_t kib = 0;
            status >> kib;
            return kib << 10;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

}  // namespace

bool AddressSpaceLimit::available()
{
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
}

AddressSpaceLimit::AddressSpaceLimit(std::size_t headroom)
{
    const std::size_t used = virtualSize();
    if (!available() || used == 0 || ::getrlimit(RLIMIT_AS, &m_previous) != 0)
        return;
    rlimit capped = m_previous;
    capped.rlim_cur = used + headroom;
    if (m_previous.rlim_max != RLIM_INFINITY && capped.rlim_cur > m_previous.rlim_max)
        capped.rlim_cur = m_previous.rlim_max;
    m_active = ::setrlimit(RLIMIT_AS, &capped) == 0;
}

AddressSpaceLimit::~AddressSpaceLimit()
{
    if (m_active)
        ::setrlimit(RLIMIT_AS, &m_previous);
}

}  // namespace Dravelin::Test
