#include "host/dicom/deid/Anonymizer.h"

#include "host/core/Log.h"
#include "host/dicom/deid/UidMap.h"
#include "host/dicom/Utils.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcvrat.h>
#include <dcmtk/dcmdata/dcvrui.h>

#include <exception>
#include <vector>

namespace Dravelin::Dicom {

enum class Anonymizer::Action { None, Keep, Remove, Empty, Dummy, Clean, NewUid, KeepReplaceUids, Unknown };

// How the attributes of an item are treated: by the table, all cleaned (inside a C sequence),
// or reduced to the references (inside an X/Z/U* sequence).
enum class Anonymizer::Mode { Table, Clean, References };

struct Anonymizer::Context
{
    bool failed = false;
    bool datesKept = false;  // a date or time left as it was
};

namespace {

const TagProxy kPatientId(0x0010, 0x0020);
const char* const kBasicName = "Basic Application Confidentiality Profile";
const char* const kCleanPixelName = "Clean Pixel Data Option";

std::string dummyText(DcmEVR vr)
{
    switch (vr) {
        case EVR_AS: return "000Y";
        case EVR_DA: return "19000101";
        case EVR_DT: return "19000101000000.000000";
        case EVR_TM: return "000000.00";
        case EVR_DS:
        case EVR_IS:
        case EVR_SS:
        case EVR_US:
        case EVR_SL:
        case EVR_UL:
        case EVR_SV:
        case EVR_UV:
        case EVR_FL:
        case EVR_FD: return "0";
        case EVR_UR: return "http://anonymized.invalid";
        default: return "ANONYMIZED";
    }
}

bool isUnknownVr(DcmEVR vr)
{
    return vr == EVR_UN || vr == EVR_UNKNOWN || vr == EVR_UNKNOWN2B;
}

// The value of an element as text; for UN (bytes) the bytes without trailing padding.
std::string valueText(DcmElement& element)
{
    if (isUnknownVr(element.ident())) {
        Uint8* bytes = nullptr;
        std::string value;
        if (element.getUint8Array(bytes).good() && bytes)
            value.assign(reinterpret_cast<const char*>(bytes), element.getLength());
        while (!value.empty() && (value.back() == '\0' || value.back() == ' '))
            value.pop_back();
        return value;
    }
    OFString value;
    element.getOFStringArray(value);
    return value.c_str();
}

// Replaces `old` in `item` by a UI element of the same tag holding `uids` (DCMTK would type a
// new element of a tag its dictionary does not know as unknown again).
bool replaceByUid(DcmItem& item, DcmElement& old, const std::string& uids)
{
    auto* typed = new DcmUniqueIdentifier(DcmTag(old.getTag().getXTag(), DcmVR(EVR_UI)));
    if (typed->putString(uids.c_str()).bad() || item.insert(typed, true).bad()) {
        delete typed;
        return false;
    }
    return true;
}

// Text attributes stored with VR UN (explicit VR files written by tools that did not know the
// tag) are re-typed from the dictionary, so that their values can be replaced like any other.
DcmElement* retypeUnknown(DcmItem& item, DcmElement* element)
{
    DcmTag known(element->getTag().getXTag());
    if (isUnknownVr(known.getEVR()) || !DcmVR(known.getEVR()).isaString())
        return element;
    const std::string value = valueText(*element);
    DcmElement* typed = DcmItem::newDicomElement(known);
    if (!typed)
        return element;
    if (typed->putString(value.c_str()).bad() || item.insert(typed, true).bad()) {
        delete typed;
        return element;
    }
    return typed;
}

// Whole numbers that point into a referenced instance (frame, segment, channel numbers).
bool isLocatingNumber(DcmEVR vr)
{
    return vr == EVR_IS || vr == EVR_US || vr == EVR_UL || vr == EVR_SS || vr == EVR_SL;
}

bool isTemporal(DcmEVR vr)
{
    return vr == EVR_DA || vr == EVR_DT || vr == EVR_TM;
}

// Versions of coding resources are dates of a terminology, not of the patient's care.
bool isCodingVersion(TagProxy tag)
{
    return tag == TagProxy(0x0008, 0x0106) || tag == TagProxy(0x0008, 0x0107);
}

// (gggg,00xx) with xx 10-ff reserves the block (gggg,xx00-xxff) of private elements.
bool isPrivateCreator(TagProxy tag)
{
    return tag.isPrivate() && tag.element >= 0x0010 && tag.element <= 0x00ff;
}

bool ownsElementIn(const DcmItem& item, TagProxy creator)
{
    const DcmTagKey first(creator.group, static_cast<Uint16>(creator.element << 8));
    for (DcmObject* object = const_cast<DcmItem&>(item).nextInContainer(nullptr); object;
         object = const_cast<DcmItem&>(item).nextInContainer(object)) {
        const DcmTagKey key = object->getTag().getXTag();
        if (key.getGroup() == creator.group && key.getElement() >= first.getElement() &&
            key.getElement() <= (first.getElement() | 0x00ff))
            return true;
    }
    return false;
}

// Strictness of what an action does, for comparing a table with the Basic profile.
int rank(const std::string& code)
{
    if (code == "X")
        return 4;
    if (code == "Z" || code == "X/Z")
        return 3;
    if (code == "D" || code == "Z/D" || code == "X/D" || code == "X/Z/D" || code == "C" || code == "U")
        return 2;
    if (code == "X/Z/U*")
        return 1;
    if (code == "K")
        return 0;
    return 4;  // unknown codes remove
}

}  // namespace

Anonymizer::Anonymizer(DeidentificationActionTable table, bool keepPrivateTags, std::shared_ptr<UidMap> uids,
                       const std::string& profileName)
    : m_table(std::move(table)), m_keepPrivateTags(keepPrivateTags), m_uids(uids ? uids : std::make_shared<UidMap>())
{
    const bool basic = m_table == tagDeidentificationActionBasicProfile();
    std::string name = profileName.empty() ? std::string("Custom Profile") : profileName;
    // A preset table is named after the preset whatever the caller calls it, so the command and
    // the editor (which names an accepted table "Custom Profile") write the same method text.
    if (basic)
        name = "Basic Profile";
    else if (m_table == tagDeidentificationActionRelaxedProfile())
        name = "Relaxed Profile";
    m_strict = !m_keepPrivateTags && atLeastAsStrictAsBasic(m_table);
    m_name = name;
    m_methodText = basic ? std::string(kBasicName) : std::string(kBasicName) + "\\" + name;
}

Anonymizer::~Anonymizer() = default;

bool Anonymizer::atLeastAsStrictAsBasic(const DeidentificationActionTable& table)
{
    const auto& basic = tagDeidentificationActionBasicProfile();
    for (const auto& [tag, code] : basic) {
        auto it = table.find(tag);
        if (it == table.end() || rank(it->second) < rank(code))
            return false;
    }
    // A row of its own for a tag that Basic covers through a group row (a private element, an
    // overlay group) overrides that row.
    for (const auto& [tag, code] : table)
        if (const std::string* covering = basic.count(tag) ? nullptr : findDeidentificationAction(basic, tag))
            if (rank(code) < rank(*covering))
                return false;
    return true;
}

Anonymizer::Action Anonymizer::actionFor(TagProxy tag, const std::string** code) const
{
    const std::string* found = nullptr;
    if (tag.isPrivate()) {
        auto exact = m_table.find(tag);
        if (exact != m_table.end())
            found = &exact->second;
        else if (m_keepPrivateTags)
            return Action::Keep;
        else
            found = findDeidentificationAction(m_table, tag);
        if (!found)
            return Action::Remove;
    } else {
        found = findDeidentificationAction(m_table, tag);
        if (!found)
            return Action::None;
    }
    *code = found;
    const std::string& a = *found;
    if (a == "X")
        return Action::Remove;
    if (a == "Z" || a == "X/Z")
        return Action::Empty;
    if (a == "D" || a == "Z/D" || a == "X/D" || a == "X/Z/D")
        return Action::Dummy;
    if (a == "K")
        return Action::Keep;
    if (a == "C")
        return Action::Clean;
    if (a == "U")
        return Action::NewUid;
    if (a == "X/Z/U*")
        return Action::KeepReplaceUids;
    return Action::Unknown;
}

bool Anonymizer::putDummy(DcmItem& item, DcmElement& element) const
{
    const DcmEVR vr = element.ident();
    const TagProxy tag(element.getTag().getXTag());
    if (vr == EVR_UI)
        return replaceUids(item, element);
    if (tag == kPatientId)
        return element.putString(m_uids->patientId(valueText(element)).c_str()).good();
    if (vr == EVR_AT)
        return static_cast<DcmAttributeTag&>(element).putTagVal(DcmTagKey(0, 0)).good();
    if (Utils::isBinaryVR(vr)) {
        const Uint8 zeros[8] = {};
        switch (vr) {
            case EVR_OF:
            case EVR_OL: return element.putUint8Array(zeros, 4).good() || element.clear().good();
            case EVR_OD:
            case EVR_OV: return element.putUint8Array(zeros, 8).good() || element.clear().good();
            default: return element.putUint8Array(zeros, 2).good() || element.clear().good();
        }
    }
    return element.putString(dummyText(vr).c_str()).good();
}

bool Anonymizer::replaceUids(DcmItem& item, DcmElement& element) const
{
    const DcmEVR vr = element.ident();
    if (vr != EVR_UI && !isUnknownVr(vr))
        return putDummy(item, element);
    const std::string text = valueText(element);
    std::string result;
    size_t start = 0;
    while (!text.empty()) {
        const size_t end = text.find('\\', start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        while (!part.empty() && (part.back() == ' ' || part.back() == '\0'))
            part.pop_back();
        if (!result.empty() || start > 0)
            result += '\\';
        if (!part.empty())
            result += m_uids->replacement(part);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (vr != EVR_UI)  // a UID attribute the dictionary does not know: written as UI from now on
        return replaceByUid(item, element, result.empty() ? UidMap::generate() : result);
    if (text.empty())
        return true;  // nothing to replace
    return element.putString(result.c_str()).good();
}

void Anonymizer::processSequence(DcmSequenceOfItems& sequence, Mode mode, Context& context) const
{
    for (DcmObject* object = sequence.nextInContainer(nullptr); object; object = sequence.nextInContainer(object))
        if (auto* child = dynamic_cast<DcmItem*>(object))
            processItem(*child, mode, false, context);
}

bool Anonymizer::processElement(DcmItem& item, DcmElement* element, Mode mode, Context& context) const
{
    const TagProxy tag(element->getTag().getXTag());
    if (isUnknownVr(element->ident()) && !tag.isPrivate())
        element = retypeUnknown(item, element);
    const bool sequence = element->ident() == EVR_SQ;
    const std::string* code = nullptr;
    Action action = actionFor(tag, &code);
    if (action == Action::Unknown) {
        DRAVELIN_LOG(1, "DICOM",
                     "Unknown de-identification action \"" + *code + "\" for " + tag.toString() + ": removed");
        action = Action::Remove;
    }
    if (mode == Mode::Clean && action != Action::Remove && action != Action::Empty)
        action = Action::Clean;
    if (mode == Mode::References && (action == Action::None || action == Action::Keep)) {
        if (sequence)
            action = Action::KeepReplaceUids;
        else if (element->ident() != EVR_UI && !isLocatingNumber(element->ident()))
            action = Action::Remove;
    }
    if (!sequence && action == Action::KeepReplaceUids)
        action = element->ident() == EVR_UI || isUnknownVr(element->ident()) ? Action::NewUid : Action::Empty;

    if (action == Action::Remove) {
        delete item.remove(element);
        return true;
    }
    if ((action == Action::None || action == Action::Keep) && isTemporal(element->ident()) &&
        element->getLength() > 0 && !isCodingVersion(tag))
        context.datesKept = true;
    if (sequence) {
        auto& items = *static_cast<DcmSequenceOfItems*>(element);
        switch (action) {
            case Action::Empty: return items.clear().good();
            case Action::Dummy: return items.clear().good() && items.append(new DcmItem()).good();
            case Action::Clean: processSequence(items, Mode::Clean, context); return true;
            case Action::KeepReplaceUids: processSequence(items, Mode::References, context); return true;
            default: processSequence(items, mode, context); return true;
        }
    }
    switch (action) {
        case Action::Empty: return element->clear().good();
        case Action::Dummy:
        case Action::Clean: return putDummy(item, *element);
        case Action::NewUid: return replaceUids(item, *element);
        default: return true;
    }
}

void Anonymizer::processItem(DcmItem& item, Mode mode, bool topLevel, Context& context) const
{
    // Private creators wait until the rest of the item is done: one stays, unchanged, while an
    // element of its block stays, since a private element without its creator means nothing.
    std::vector<DcmElement*> creators;
    // The next element is found before this one may be removed or replaced.
    DcmObject* next = item.nextInContainer(nullptr);
    while (next) {
        auto* element = static_cast<DcmElement*>(next);
        next = item.nextInContainer(element);
        const TagProxy tag(element->getTag().getXTag());
        if (tag.element == 0x0000)
            continue;  // group lengths are recomputed on writing
        if (topLevel && tag.group == 0x0004) {
            delete item.remove(element);
            continue;
        }
        if (isPrivateCreator(tag)) {
            creators.push_back(element);
            continue;
        }
        if (!processElement(item, element, mode, context)) {
            DRAVELIN_LOG(4, "DICOM", "Could not de-identify " + tag.toString());
            context.failed = true;
        }
    }
    for (DcmElement* creator : creators) {
        const TagProxy tag(creator->getTag().getXTag());
        if (!ownsElementIn(item, tag) && !processElement(item, creator, mode, context)) {
            DRAVELIN_LOG(4, "DICOM", "Could not de-identify " + tag.toString());
            context.failed = true;
        }
    }
}

bool Anonymizer::hasBurnedInAnnotation(DcmItem& dataset)
{
    OFString burnedIn;
    return dataset.findAndGetOFString(DCM_BurnedInAnnotation, burnedIn).good() && burnedIn == "YES";
}

bool Anonymizer::addMethod(DcmItem& dataset, bool datesKept, bool pixelsCleaned) const
{
    // Text in the pixels is not removed: such an image may still identify the patient, whatever
    // an earlier run claimed, and the profile's code would claim more than was done.
    const bool strict = m_strict && !hasBurnedInAnnotation(dataset);
    OFString earlierRemoved;
    dataset.findAndGetOFString(DCM_PatientIdentityRemoved, earlierRemoved);
    const bool removed = strict || (earlierRemoved == "YES" && !hasBurnedInAnnotation(dataset));
    bool ok = dataset.putAndInsertString(DCM_PatientIdentityRemoved, removed ? "YES" : "NO").good();
    OFString earlierMethod;
    dataset.findAndGetOFStringArray(DCM_DeidentificationMethod, earlierMethod);
    const std::string ours =
        (strict ? m_methodText : m_name) + (pixelsCleaned ? std::string("\\") + kCleanPixelName : "");
    const std::string method = earlierMethod.empty() ? ours : std::string(earlierMethod.c_str()) + "\\" + ours;
    ok = dataset.putAndInsertString(DCM_DeidentificationMethod, method.c_str()).good() && ok;
    if (strict) {
        DcmItem* code = nullptr;
        ok = dataset.findOrCreateSequenceItem(DCM_DeidentificationMethodCodeSequence, code, -2).good() && code &&
             code->putAndInsertString(DCM_CodeValue, "113100").good() &&
             code->putAndInsertString(DCM_CodingSchemeDesignator, "DCM").good() &&
             code->putAndInsertString(DCM_CodeMeaning, kBasicName).good() && ok;
        DcmItem* clean = nullptr;
        if (pixelsCleaned)
            ok = dataset.findOrCreateSequenceItem(DCM_DeidentificationMethodCodeSequence, clean, -2).good() && clean &&
                 clean->putAndInsertString(DCM_CodeValue, "113101").good() &&
                 clean->putAndInsertString(DCM_CodingSchemeDesignator, "DCM").good() &&
                 clean->putAndInsertString(DCM_CodeMeaning, kCleanPixelName).good() && ok;
    }
    // Dates left as they were keep what an earlier run recorded about them (it may have shifted
    // them); we never shift, so ours are either unchanged or gone.
    OFString earlierDates;
    dataset.findAndGetOFString(DCM_LongitudinalTemporalInformationModified, earlierDates);
    const char* dates = !datesKept                   ? "REMOVED"
                        : earlierDates == "MODIFIED" ? "MODIFIED"
                        : earlierDates == "REMOVED"  ? "REMOVED"
                                                     : "UNMODIFIED";
    ok = dataset.putAndInsertString(DCM_LongitudinalTemporalInformationModified, dates).good() && ok;
    return ok;
}

bool Anonymizer::apply(DcmItem& dataset, bool pixelsCleaned) const
{
    try {
        Context context;
        processItem(dataset, Mode::Table, true, context);
        const bool ok = addMethod(dataset, context.datesKept, pixelsCleaned) && !context.failed;
        if (!ok)
            DRAVELIN_LOG(4, "DICOM", "De-identification failed");
        return ok;
    } catch (const std::exception& e) {
        DRAVELIN_LOG(4, "DICOM", std::string("De-identification failed: ") + e.what());
        return false;
    }
}

namespace Utils {

bool anonymize(DcmItem& dataset, const std::map<TagProxy, std::string>& table, bool keepPrivateTags)
{
    return Anonymizer(table, keepPrivateTags, nullptr).apply(dataset);
}

bool anonymize(DcmItem& dataset, const std::map<TagProxy, std::string>& table, bool keepPrivateTags,
               const std::shared_ptr<UidMap>& uids)
{
    return Anonymizer(table, keepPrivateTags, uids).apply(dataset);
}

}  // namespace Utils

}  // namespace Dravelin::Dicom
