#pragma once

#include <cstdint>
#include <string>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctagkey.h>

namespace Dravelin::Dicom {

// A tag key (group, element) that orders by group, then element.
struct TagProxy
{
    std::uint16_t group = 0;
    std::uint16_t element = 0;

    constexpr TagProxy() = default;
    constexpr TagProxy(std::uint16_t g, std::uint16_t e) : group(g), element(e) {}
    TagProxy(const DcmTagKey& key) : group(key.getGroup()), element(key.getElement()) {}  // NOLINT

    DcmTagKey key() const { return DcmTagKey(group, element); }
    operator DcmTagKey() const { return key(); }  // NOLINT

    // "(gggg,eeee)" in lower-case hexadecimal, like DcmTagKey::toString().
    std::string toString() const;
    bool isPrivate() const { return (group & 1u) != 0; }

    friend constexpr bool operator<(const TagProxy& a, const TagProxy& b)
    {
        return a.group != b.group ? a.group < b.group : a.element < b.element;
    }
    friend constexpr bool operator==(const TagProxy& a, const TagProxy& b)
    {
        return a.group == b.group && a.element == b.element;
    }
    friend constexpr bool operator!=(const TagProxy& a, const TagProxy& b) { return !(a == b); }
};

}  // namespace Dravelin::Dicom
