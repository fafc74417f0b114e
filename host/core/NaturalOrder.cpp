#include "host/core/NaturalOrder.h"

#include <QLocale>

#include <array>

namespace Dravelin {

namespace {

QLocale naturalOrderLocale()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

// Numbers longer than this are split by the collator; such texts go to it.
constexpr std::size_t kLongestNumber = 64;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The collator's primary order of printable ASCII: white space and punctuation in this order,
// then digits (numbers, by value), then letters without regard to case.
std::array<unsigned char, 128> primaryWeights()
{
    std::array<unsigned char, 128> weights{};
    static constexpr char kPunctuation[] = " _-,;:!?.'\"()[]{}@*/\\&#%`^+<=>|~$";
    unsigned char next = 1;
    for (const char* p = kPunctuation; *p; ++p)
        weights[static_cast<unsigned char>(*p)] = next++;
    const unsigned char digits = next++;
    for (char c = '0'; c <= '9'; ++c)
        weights[static_cast<unsigned char>(c)] = digits;
    for (char c = 'a'; c <= 'z'; ++c)
        weights[static_cast<unsigned char>(c)] = weights[static_cast<unsigned char>(c - 'a' + 'A')] = next++;
    return weights;
}

const std::array<unsigned char, 128>& weights()
{
    static const std::array<unsigned char, 128> table = primaryWeights();
    return table;
}

// A number at `i`: its digits without leading zeros.
std::string_view number(std::string_view text, std::size_t& i)
{
    while (i < text.size() && text[i] == '0')
        ++i;
    const std::size_t start = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    return text.substr(start, i - start);
}

}  // namespace

QCollator naturalOrderCollator()
{
    QCollator collator(naturalOrderLocale());
    collator.setNumericMode(true);
    return collator;
}

AsciiNaturalOrder::AsciiNaturalOrder() : m_englishLocale(naturalOrderLocale().language() == QLocale::English) {}

bool AsciiNaturalOrder::accepts(std::string_view text) const
{
    if (!m_englishLocale)
        return false;
    std::size_t digits = 0;
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E)
            return false;
        digits = isDigit(c) ? digits + 1 : 0;
        if (digits > kLongestNumber)
            return false;
    }
    return true;
}

int AsciiNaturalOrder::compare(std::string_view a, std::string_view b)
{
    const auto& w = weights();
    // Equal bytes weigh the same in both passes; a number is compared whole, so the comparison
    // starts at the first digit of a number the equal bytes end in.
    std::size_t same = 0;
    while (same < a.size() && same < b.size() && a[same] == b[same])
        ++same;
    while (same > 0 && isDigit(a[same - 1]))
        --same;
    a.remove_prefix(same);
    b.remove_prefix(same);
    // Primary: characters by weight, numbers by value; a text that ends first comes first.
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::string_view x = number(a, i), y = number(b, j);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y))
                return c < 0 ? -1 : 1;
            continue;
        }
        const unsigned char x = w[static_cast<unsigned char>(a[i])], y = w[static_cast<unsigned char>(b[j])];
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    // Tertiary: the first letter whose case differs, lower case first.
    i = j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i])) {
            number(a, i);
            number(b, j);
            continue;
        }
        const bool upperA = a[i] >= 'A' && a[i] <= 'Z', upperB = b[j] >= 'A' && b[j] <= 'Z';
        if (upperA != upperB)
            return upperA ? 1 : -1;
        ++i;
        ++j;
    }
    return 0;
}

void AsciiNaturalOrder::appendKey(std::string_view text, std::string& key)
{
    const auto& w = weights();
    // A character is its weight; a number is the digits' weight, its length without leading
    // zeros, then those digits: numbers of one length compare digit by digit.
    for (std::size_t i = 0; i < text.size();) {
        if (!isDigit(text[i])) {
            key += char(w[static_cast<unsigned char>(text[i])]);
            ++i;
            continue;
        }
        const std::string_view digits = number(text, i);
        key += char(w['0']);
        key += char(digits.size());
        key += digits;
    }
}

}  // namespace Dravelin
