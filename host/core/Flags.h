#pragma once

#include <type_traits>

namespace Dravelin {

// A set of bits named by the enumerators of E (each a power of two). Built from single
// values, combinations or a plain mask (0xFF: everything), so options can be passed as one
// argument and tested by name.
template <typename E>
class Flags
{
    static_assert(std::is_enum_v<E>, "Flags are built on an enumeration");

public:
    using Int = std::underlying_type_t<E>;

    constexpr Flags() = default;
    constexpr Flags(E flag) : m_bits(static_cast<Int>(flag)) {}  // NOLINT: single values convert
    constexpr Flags(Int bits) : m_bits(bits) {}                  // NOLINT: a plain mask converts too

    constexpr bool testFlag(E flag) const
    {
        const Int bit = static_cast<Int>(flag);
        return bit == 0 ? m_bits == 0 : (m_bits & bit) == bit;
    }
    constexpr Flags& setFlag(E flag, bool on = true)
    {
        m_bits = on ? (m_bits | static_cast<Int>(flag)) : (m_bits & ~static_cast<Int>(flag));
        return *this;
    }
    constexpr Int toInt() const { return m_bits; }
    constexpr explicit operator bool() const { return m_bits != 0; }

    constexpr Flags operator|(Flags other) const { return Flags(Int(m_bits | other.m_bits)); }
    constexpr Flags operator&(Flags other) const { return Flags(Int(m_bits & other.m_bits)); }
    constexpr Flags& operator|=(Flags other) { return *this = *this | other; }
    constexpr Flags& operator&=(Flags other) { return *this = *this & other; }
    constexpr bool operator==(Flags other) const { return m_bits == other.m_bits; }
    constexpr bool operator!=(Flags other) const { return m_bits != other.m_bits; }

private:
    Int m_bits = 0;
};

}  // namespace Dravelin
