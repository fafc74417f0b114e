#include "host/dicom/Anonymizer.h"

#include "host/core/Log.h"
#include "host/dicom/UidMap.h"
#include "host/dicom/Utils.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcvrat.h>

#include <exception>

namespace Dravelin::Dicom {

enum class Anonymizer::Action { None, Keep, Remove, Empty, Dummy, Clean, NewUid, KeepReplaceUids, Unknown };

struct Anonymizer::Context
{
    bool failed = false;
};

namespace {

const TagProxy kStudyInstanceUid(0x0020, 0x000d);

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

bool putDummy(DcmElement& element, UidMap& uids)
{
    const DcmEVR vr = element.ident();
    if (vr == EVR_UI) {
        OFString old;
        element.getOFStringArray(old);
        return element.putString(uids.replacement(old.c_str()).c_str()).good();
    }
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

bool replaceUids(DcmElement& element, UidMap& uids)
{
    if (element.ident() != EVR_UI)
        return putDummy(element, uids);
    OFString joined;
    if (element.getOFStringArray(joined).bad() || joined.empty())
        return true;  // nothing to replace
    std::string result;
    std::string text(joined.c_str());
    size_t start = 0;
    while (true) {
        const size_t end = text.find('\\', start);
        const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!result.empty())
            result += '\\';
        if (!part.empty())
            result += uids.replacement(part);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return element.putString(result.c_str()).good();
}

// Text attributes stored with VR UN (explicit VR files written by tools that did not know the
// tag) are re-typed from the dictionary, so that their values can be replaced like any other.
DcmElement* retypeUnknown(DcmItem& item, DcmElement* element)
{
    DcmTag known(element->getTag().getXTag());
    const DcmVR vr(known.getEVR());
    if (!vr.isaString() || known.getEVR() == EVR_UN)
        return element;
    Uint8* bytes = nullptr;
    std::string value;
    if (element->getUint8Array(bytes).good() && bytes)
        value.assign(reinterpret_cast<const char*>(bytes), element->getLength());
    while (!value.empty() && (value.back() == '\0' || value.back() == ' '))
        value.pop_back();
    DcmElement* typed = DcmItem::newDicomElement(known);
    if (!typed)
        return element;
    if (typed->putString(value.c_str()).bad() || item.insert(typed, true).bad()) {
        delete typed;
        return element;
    }
    return typed;
}

}  // namespace

Anonymizer::Anonymizer(DeidentificationActionTable table, bool keepPrivateTags, std::shared_ptr<UidMap> uids)
    : m_table(std::move(table)), m_keepPrivateTags(keepPrivateTags), m_uids(uids ? uids : std::make_shared<UidMap>())
{
    const std::string basicName = "Basic Application Confidentiality Profile";
    if (m_table == tagDeidentificationActionBasicProfile())
        m_methodText = basicName;
    else if (m_table == tagDeidentificationActionRelaxedProfile())
        m_methodText = basicName + "\\Relaxed Profile";
    else
        m_methodText = basicName + "\\Custom Profile";
    const std::string* studyUid = findDeidentificationAction(m_table, kStudyInstanceUid);
    m_uidsRetained = studyUid && *studyUid == "K";
}

Anonymizer::~Anonymizer() = default;

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

bool Anonymizer::processItem(DcmItem& item, Context& context) const
{
    // Backwards, so that removing an element does not shift the ones still to visit.
    for (unsigned long i = item.card(); i-- > 0;) {
        DcmElement* element = item.getElement(i);
        if (!element)
            continue;
        const TagProxy tag(element->getTag().getXTag());
        if (tag.element == 0x0000)
            continue;  // group lengths are recomputed on writing
        if (element->ident() == EVR_UN && !tag.isPrivate())
            element = retypeUnknown(item, element);
        const std::string* code = nullptr;
        Action action = actionFor(tag, &code);
        const bool sequence = element->ident() == EVR_SQ;
        if (action == Action::Unknown) {
            DRAVELIN_LOG(1, "DICOM",
                         "Unknown de-identification action \"" + *code + "\" for " + tag.toString() + ": removed");
            action = Action::Remove;
        }
        if (sequence && (action == Action::Dummy || action == Action::Clean || action == Action::KeepReplaceUids))
            action = Action::Keep;
        if (!sequence && action == Action::KeepReplaceUids)
            action = element->ident() == EVR_UI ? Action::NewUid : Action::Empty;

        bool ok = true;
        switch (action) {
            case Action::Remove: delete item.remove(i); break;
            case Action::Empty: ok = element->clear().good(); break;
            case Action::Dummy:
            case Action::Clean: ok = putDummy(*element, *m_uids); break;
            case Action::NewUid: ok = replaceUids(*element, *m_uids); break;
            case Action::None:
            case Action::Keep:
                if (sequence) {
                    auto* items = static_cast<DcmSequenceOfItems*>(element);
                    for (unsigned long j = 0; j < items->card(); ++j)
                        if (DcmItem* child = items->getItem(j))
                            ok = processItem(*child, context) && ok;
                }
                break;
            case Action::KeepReplaceUids:
            case Action::Unknown: break;
        }
        if (!ok) {
            DRAVELIN_LOG(4, "DICOM", "Could not de-identify " + tag.toString());
            context.failed = true;
        }
    }
    return !context.failed;
}

bool Anonymizer::addMethod(DcmItem& dataset) const
{
    bool ok = dataset.putAndInsertString(DCM_PatientIdentityRemoved, "YES").good();
    ok = dataset.putAndInsertString(DCM_DeidentificationMethod, m_methodText.c_str()).good() && ok;
    dataset.findAndDeleteElement(DCM_DeidentificationMethodCodeSequence);
    auto addCode = [&](const char* value, const char* meaning) {
        DcmItem* code = nullptr;
        if (dataset.findOrCreateSequenceItem(DCM_DeidentificationMethodCodeSequence, code, -2).bad() || !code)
            return false;
        return code->putAndInsertString(DCM_CodeValue, value).good() &&
               code->putAndInsertString(DCM_CodingSchemeDesignator, "DCM").good() &&
               code->putAndInsertString(DCM_CodeMeaning, meaning).good();
    };
    ok = addCode("113100", "Basic Application Confidentiality Profile") && ok;
    if (m_uidsRetained)
        ok = addCode("113110", "Retain UIDs Option") && ok;
    return ok;
}

bool Anonymizer::apply(DcmItem& dataset) const
{
    try {
        OFString burnedIn;
        if (dataset.findAndGetOFString(DCM_BurnedInAnnotation, burnedIn).good() && burnedIn == "YES")
            DRAVELIN_LOG(2, "DICOM",
                         "Image with burned-in annotation (BurnedInAnnotation YES): text in its pixel data is not "
                         "removed");
        Context context;
        processItem(dataset, context);
        const bool ok = addMethod(dataset) && !context.failed;
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
