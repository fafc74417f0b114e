#include "scanning/RecordElements.h"

#include <dcmtk/dcmdata/dcelem.h>

#include <algorithm>

namespace Dravelin::Dicom {

RecordElements::RecordElements(DcmItem& item)
{
    m_elements.reserve(item.card());
    // An item's list holds elements only (sequences are elements too).
    for (DcmObject* object = item.nextInContainer(nullptr); object; object = item.nextInContainer(object)) {
        const DcmTagKey key = object->getTag();
        // DCMTK keeps items sorted; should one not be, it is searched in list order as DCMTK does.
        if (!m_elements.empty() && !(m_elements.back().first < key))
            m_sorted = false;
        m_elements.emplace_back(key, static_cast<DcmElement*>(object));
    }
}

DcmElement* RecordElements::find(const DcmTagKey& tag) const
{
    if (m_sorted) {
        const auto it = std::lower_bound(m_elements.begin(), m_elements.end(), tag,
                                         [](const auto& entry, const DcmTagKey& key) { return entry.first < key; });
        return it != m_elements.end() && it->first == tag ? it->second : nullptr;
    }
    for (const auto& [key, element] : m_elements)
        if (key == tag)
            return element;
    return nullptr;
}

}  // namespace Dravelin::Dicom
