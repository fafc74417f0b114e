#include "scanning/RecordElements.h"

#include "scanning/RecordTags.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>

#include <algorithm>
#include <cstring>

namespace Dravelin::Dicom {

namespace {

std::uint32_t key(const DcmTagKey& tag)
{
    return std::uint32_t(tag.getGroup()) << 16 | tag.getElement();
}

}  // namespace

RecordElements::RecordElements(DcmItem& item) : m_item(&item)
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

RecordElements::RecordElements(const RawHeader& header) : m_raw(&header) {}

const std::vector<RawHeader::Field>& RecordElements::rawFields()
{
    static const std::vector<RawHeader::Field> fields = [] {
        const RecordTags& t = RecordTags::get();
        std::vector<RawHeader::Field> result;
        for (const DcmTag* tag : {&t.patientId,
                                  &t.patientName,
                                  &t.patientSex,
                                  &t.patientBirthDate,
                                  &t.patientComments,
                                  &t.studyInstanceUid,
                                  &t.studyId,
                                  &t.studyTime,
                                  &t.studyDate,
                                  &t.studyDescription,
                                  &t.seriesInstanceUid,
                                  &t.sopClassUid,
                                  &t.seriesTime,
                                  &t.seriesDate,
                                  &t.seriesNumber,
                                  &t.modality,
                                  &t.seriesDescription,
                                  &t.sopInstanceUid,
                                  &t.instanceNumber,
                                  &t.acquisitionNumber,
                                  &t.imageType,
                                  &t.columns,
                                  &t.rows,
                                  &t.samplesPerPixel,
                                  &t.bitsAllocated,
                                  &t.numberOfFrames,
                                  &t.sliceThickness,
                                  &t.protocolName,
                                  &t.bodyPartExamined,
                                  &t.manufacturer,
                                  &t.manufacturerModelName,
                                  &t.imagePosition,
                                  &t.imageOrientation,
                                  &t.pixelSpacing,
                                  &t.spacingBetweenSlices,
                                  &t.sharedFunctionalGroups,
                                  &t.burnedInAnnotation}) {
            RawHeader::Field field{key(*tag), {0, 0}};
            std::memcpy(field.vr, tag->getVR().getVRName(), 2);
            result.push_back(field);
        }
        std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.tag < b.tag; });
        return result;
    }();
    return fields;
}

bool RecordElements::contains(const DcmTagKey& tag) const
{
    return m_raw ? findRaw(tag) != nullptr : find(tag) != nullptr;
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

const EncodedValue* RecordElements::findRaw(const DcmTagKey& tag) const
{
    return m_raw->find(key(tag));
}

}  // namespace Dravelin::Dicom
