#include "host/core/NaturalOrder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using Dravelin::AsciiNaturalOrder;

namespace {

int sign(int v)
{
    return (v > 0) - (v < 0);
}

}  // namespace

// The ICU-free order must be the collator's for every printable ASCII text: random texts heavy
// in digits (leading zeros too), mixed case and punctuation, compared both ways. Sort keys that
// differ must order as the texts do, and differ for nearly all pairs.
TEST(NaturalOrder, AsciiOrderIsTheCollatorsOrder)
{
    const AsciiNaturalOrder order;
    if (!order.accepts("a"))
        GTEST_SKIP() << "the locale is not English";
    const QCollator collator = Dravelin::naturalOrderCollator();
    std::mt19937 random(7);
    std::string alphabet;
    for (char c = 0x20; c < 0x7F; ++c)
        alphabet += c;
    alphabet += "0000111229aAbB/.-_ ";
    const auto text = [&] {
        std::string s(random() % 9, ' ');
        for (char& c : s)
            c = alphabet[random() % alphabet.size()];
        return s;
    };
    int decidedByKeys = 0;
    for (int i = 0; i < 30000; ++i) {
        const std::string a = text(), b = i % 3 ? text() : a.substr(0, a.size() / 2) + text();
        ASSERT_TRUE(order.accepts(a));
        const int expected = sign(collator.compare(QString::fromLatin1(a.c_str()), QString::fromLatin1(b.c_str())));
        ASSERT_EQ(sign(AsciiNaturalOrder::compare(a, b)), expected) << "'" << a << "' against '" << b << "'";
        std::string keyA, keyB;
        AsciiNaturalOrder::appendKey(a, keyA);
        AsciiNaturalOrder::appendKey(b, keyB);
        if (const int byKeys = sign(keyA.compare(keyB))) {
            ASSERT_EQ(byKeys, expected) << "keys of '" << a << "' against '" << b << "'";
            ++decidedByKeys;
        }
    }
    EXPECT_GT(decidedByKeys, 29000);
    EXPECT_FALSE(order.accepts("caf\xc3\xa9"));
    EXPECT_FALSE(order.accepts("tab\there"));
}
