#pragma once

#include "host/dicom/Element.h"
#include "host/dicom/RawHeader.h"

#include <optional>
#include <utility>
#include <vector>

namespace Dravelin::Dicom {

// The top-level elements the record builders read, from one of two sources: a DCMTK item
// (collected in a single pass: each DCMTK search walks the item's list from its start), or
// the values a RawHeader found in a file's first bytes. Reads give what Element<T> gives for
// the same item, tag, type and tolerance, missing-element log included.
class RecordElements
{
public:
    explicit RecordElements(DcmItem& item);
    // `header` parsed with rawFields().
    explicit RecordElements(const RawHeader& header);

    // What a RawHeader must keep for the records: every tag of RecordTags and the shared
    // functional groups, with their dictionary VRs, in tag order.
    static const std::vector<RawHeader::Field>& rawFields();

    bool contains(const DcmTagKey& tag) const;
    // The encoded value from a RawHeader (null when absent, or read from a DCMTK item).
    const EncodedValue* encoded(const DcmTagKey& tag) const { return m_raw ? findRaw(tag) : nullptr; }
    // Also hands the tags of missing Required elements to `tags` (null: only logs them).
    void collectMissing(std::vector<DcmTagKey>* tags) const { m_missing = tags; }
    // The item read, or null when the values come from a RawHeader.
    DcmItem* item() const { return m_item; }

    // As Element<T>(item, tag, type, tolerant).value(defaultValue).
    template <typename T>
    T value(const DcmTagKey& tag, ElementBase::Type type, bool tolerant, const T& defaultValue) const
    {
        std::optional<T> v = read<T>(tag, type, tolerant);
        return v ? std::move(*v) : defaultValue;
    }

    // As Element<T>(item, tag, Optional, tolerant).get().
    template <typename T>
    std::optional<T> get(const DcmTagKey& tag, bool tolerant) const
    {
        return read<T>(tag, ElementBase::Optional, tolerant);
    }

private:
    template <typename T>
    std::optional<T> read(const DcmTagKey& tag, ElementBase::Type type, bool tolerant) const
    {
        if (m_raw) {
            const EncodedValue* value = findRaw(tag);
            if (!value && type == ElementBase::Required)
                missing(tag);
            return Element<T>::valueOf(value, tolerant);
        }
        DcmElement* element = find(tag);
        if (!element && type == ElementBase::Required)
            missing(tag);
        return Element<T>::valueOf(element, tolerant);
    }
    void missing(const DcmTagKey& tag) const
    {
        ElementBase::logMissing(tag);
        if (m_missing)
            m_missing->push_back(tag);
    }
    DcmElement* find(const DcmTagKey& tag) const;
    const EncodedValue* findRaw(const DcmTagKey& tag) const;

    DcmItem* m_item = nullptr;
    const RawHeader* m_raw = nullptr;
    std::vector<std::pair<DcmTagKey, DcmElement*>> m_elements;
    bool m_sorted = true;
    mutable std::vector<DcmTagKey>* m_missing = nullptr;
};

}  // namespace Dravelin::Dicom
