#pragma once

#include "host/dicom/Element.h"

#include <optional>
#include <utility>
#include <vector>

namespace Dravelin::Dicom {

// The top-level elements of one item, collected in a single pass. The record builders read
// some 35 elements per file, and each DCMTK search walks the item's list from its start.
// Reads give what Element<T> gives for the same item, tag, type and tolerance.
class RecordElements
{
public:
    explicit RecordElements(DcmItem& item);

    DcmElement* find(const DcmTagKey& tag) const;

    // As Element<T>(item, tag, type, tolerant).value(defaultValue), missing-element log included.
    template <typename T>
    T value(const DcmTagKey& tag, ElementBase::Type type, bool tolerant, const T& defaultValue) const
    {
        DcmElement* element = find(tag);
        if (!element && type == ElementBase::Required)
            ElementBase::logMissing(tag);
        std::optional<T> v = Element<T>::valueOf(element, tolerant);
        return v ? std::move(*v) : defaultValue;
    }

    // As Element<T>(item, tag, Optional, tolerant).get().
    template <typename T>
    std::optional<T> get(const DcmTagKey& tag, bool tolerant) const
    {
        return Element<T>::valueOf(find(tag), tolerant);
    }

private:
    std::vector<std::pair<DcmTagKey, DcmElement*>> m_elements;
    bool m_sorted = true;
};

}  // namespace Dravelin::Dicom
