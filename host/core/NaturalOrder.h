#pragma once

#include <QCollator>

#include <optional>
#include <string_view>

namespace Dravelin {

// A collator for natural order ("img2" before "img10") in the user's locale. Qt ignores the
// numeric mode in the C locale (what services, CI and processes without LANG get), so that
// locale is replaced by English there: natural order must not depend on LANG.
QCollator naturalOrderCollator();

// The order of naturalOrderCollator() for printable ASCII texts, without ICU: what it gives for
// `a` against `b` (negative, 0 or positive), or nothing when the collator's locale orders
// differently from English or a text holds anything else (then ask the collator). A folder
// listing sorts tens of thousands of paths; the collator's sort keys cost more than the rest
// of the listing.
class AsciiNaturalOrder
{
public:
    AsciiNaturalOrder();
    // Whether compare() serves `text` (and the locale).
    bool accepts(std::string_view text) const;
    // For texts that accepts() serves.
    static int compare(std::string_view a, std::string_view b);
    // Appends the bytes of `text` (one that accepts() serves) whose plain byte order is the first
    // level of compare(): texts whose keys differ compare as their keys do; equal keys leave
    // compare() to decide (case, leading zeros). A sort compares keys at a fraction of the cost.
    static void appendKey(std::string_view text, std::string& key);

private:
    bool m_englishLocale;
};

}  // namespace Dravelin
