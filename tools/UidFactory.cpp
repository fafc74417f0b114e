#include "tools/UidFactory.h"

namespace Dravelin::Tools {

namespace {

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

std::string UidFactory::uid(int kind, std::initializer_list<int> numbers) const
{
    std::uint64_t high = mix(m_seed ^ (static_cast<std::uint64_t>(kind) << 56));
    std::uint64_t low = mix(high + 0x1234567ull);
    for (int n : numbers) {
        high = mix(high ^ static_cast<std::uint64_t>(static_cast<std::uint32_t>(n)));
        low = mix(low + high);
    }
    // Two 64-bit halves printed as one integer would need 128-bit arithmetic; the high half
    // (with a leading 1 so that it never starts with 0) followed by the zero-padded low half
    // is still one decimal integer of at most 40 digits.
    std::string lowText = std::to_string(low);
    lowText.insert(0, 20 - lowText.size(), '0');
    return "2.25.1" + std::to_string(high % 100000000000000000ull) + lowText;
}

}  // namespace Dravelin::Tools
