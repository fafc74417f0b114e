#include "tests/support/PhiDataset.h"

#include "host/dicom/deid/DeidentificationProfiles.h"
#include "tests/support/DataFixtures.h"

#include <QDir>
#include <QFileInfo>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

namespace Dravelin::Test {

const char* const kTextMarker = "PHIMARK";
const char* const kUidMarker = "1.2.3.999.";

namespace {

const char* const kDateMarker = "19770707";
const char* const kTimeMarker = "121314";
const char* const kNumberMarker = "4242";

DcmEVR concreteVr(DcmEVR vr)
{
    switch (vr) {
        case EVR_xs: return EVR_US;
        case EVR_ox:
        case EVR_px: return EVR_OB;
        case EVR_lt: return EVR_OW;
        case EVR_up: return EVR_UL;
        default: return vr;
    }
}

// A marker value for the VR; empty when the VR is not filled here.
std::string markerValue(DcmEVR vr, int index)
{
    const std::string n = std::to_string(index);
    switch (vr) {
        case EVR_AE:
        case EVR_CS: return std::string(kTextMarker) + n;
        case EVR_AS: return "077Y";
        case EVR_DA: return kDateMarker;
        case EVR_DT: return std::string(kDateMarker) + kTimeMarker;
        case EVR_TM: return kTimeMarker;
        case EVR_DS: return "4242.42";
        case EVR_IS:
        case EVR_UL:
        case EVR_SL: return "424242";
        case EVR_US:
        case EVR_SS: return kNumberMarker;
        case EVR_FL:
        case EVR_FD: return "4242.5";
        case EVR_PN: return std::string(kTextMarker) + "^" + n;
        case EVR_LO:
        case EVR_LT:
        case EVR_SH:
        case EVR_ST:
        case EVR_UT:
        case EVR_UC: return std::string(kTextMarker) + " value " + n;
        case EVR_UR: return std::string("http://") + kTextMarker + ".example/" + n;
        case EVR_UI: return std::string(kUidMarker) + "100." + n;
        default: return std::string();
    }
}

// An item with attributes the table names, attributes it does not name (codes, text, a private
// group, a nested code sequence) and a reference to an instance.
DcmItem* makeNestedItem(int index)
{
    const std::string n = std::to_string(index);
    auto* child = new DcmItem();
    child->putAndInsertString(DCM_PatientName, (std::string(kTextMarker) + "^nested" + n).c_str());
    child->putAndInsertString(DCM_PatientID, (std::string(kTextMarker) + "id" + n).c_str());
    child->putAndInsertString(DCM_CodeMeaning, (std::string(kTextMarker) + " meaning " + n).c_str());
    child->putAndInsertString(DCM_TextValue, (std::string(kTextMarker) + " report text " + n).c_str());
    child->putAndInsertString(DcmTag(0x0011, 0x0010, EVR_LO), "PHIMARK NESTED CREATOR");
    child->putAndInsertString(DcmTag(0x0011, 0x1001, EVR_LO), (std::string(kTextMarker) + " private " + n).c_str());
    child->putAndInsertString(DCM_ReferencedSOPClassUID, UID_CTImageStorage);
    child->putAndInsertString(DCM_ReferencedSOPInstanceUID, (std::string(kUidMarker) + "200." + n).c_str());
    child->putAndInsertString(DCM_ReferencedFrameNumber, "1");
    DcmItem* code = nullptr;
    child->findOrCreateSequenceItem(DCM_ConceptNameCodeSequence, code, -2);
    code->putAndInsertString(DCM_CodeMeaning, (std::string(kTextMarker) + " concept " + n).c_str());
    return child;
}

void putMarker(DcmItem& item, const DcmTagKey& key, int index)
{
    DcmTag tag(key);
    const DcmEVR vr = concreteVr(tag.getEVR());
    tag.setVR(DcmVR(vr));
    if (vr == EVR_SQ) {
        auto* sequence = new DcmSequenceOfItems(tag);
        sequence->append(makeNestedItem(index));
        item.insert(sequence, true);
        return;
    }
    if (vr == EVR_OB || vr == EVR_OW || vr == EVR_UN) {
        const std::string bytes = std::string(kTextMarker) + "!";
        item.putAndInsertUint8Array(tag, reinterpret_cast<const Uint8*>(bytes.data()), bytes.size());
        return;
    }
    if (vr == EVR_AT) {
        item.putAndInsertTagKey(tag, DcmTagKey(0x4242, 0x4242));
        return;
    }
    const std::string value = markerValue(vr, index);
    if (value.empty())
        return;
    DcmElement* element = DcmItem::newDicomElement(tag);
    if (!element)
        return;
    if (element->putString(value.c_str()).bad() || item.insert(element, true).bad())
        delete element;
}

bool isDictionaryTag(const Dicom::TagProxy& key)
{
    return DcmTag(key.key()).getTagName() != std::string(DcmTag_ERROR_TagName);
}

bool hasMarker(DcmElement& element)
{
    if (element.getTag() == DCM_PixelData)
        return false;
    const DcmEVR vr = element.ident();
    if (vr == EVR_OB || vr == EVR_OW || vr == EVR_UN) {
        Uint8* bytes = nullptr;
        if (element.getUint8Array(bytes).bad() || !bytes)
            return false;
        const std::string text(reinterpret_cast<const char*>(bytes), element.getLength());
        return text.find(kTextMarker) != std::string::npos;
    }
    OFString value;
    if (element.getOFStringArray(value).bad())
        return false;
    const std::string v = value.c_str();
    if (vr == EVR_UI)
        return v.find(kUidMarker) != std::string::npos;
    for (const char* marker : {kTextMarker, kDateMarker, kTimeMarker, kNumberMarker, "077Y"})
        if (v.find(marker) != std::string::npos)
            return true;
    return false;
}

void collect(DcmItem& item, std::vector<std::string>& out)
{
    for (DcmObject* object = item.nextInContainer(nullptr); object; object = item.nextInContainer(object)) {
        auto* element = static_cast<DcmElement*>(object);
        if (element->ident() == EVR_SQ) {
            auto* sequence = static_cast<DcmSequenceOfItems*>(element);
            for (DcmObject* child = sequence->nextInContainer(nullptr); child; child = sequence->nextInContainer(child))
                collect(*static_cast<DcmItem*>(child), out);
        } else if (hasMarker(*element)) {
            OFString value;
            element->getOFStringArray(value);
            out.push_back(element->getTag().toString().c_str() + std::string(": ") + value.c_str());
        }
    }
}

}  // namespace

int phiAttributeCount()
{
    int count = 0;
    for (const auto& [tag, action] : Dicom::tagDeidentificationActionBasicProfile())
        if (tag != Dicom::DeidentificationKeys::privateAttributes && tag != Dicom::DeidentificationKeys::curveData &&
            isDictionaryTag(tag))
            ++count;
    return count;
}

std::unique_ptr<DcmDataset> makePhiDataset(const PhiDatasetOptions& options)
{
    auto dataset = std::make_unique<DcmDataset>();
    int index = 0;
    for (const auto& [tag, action] : Dicom::tagDeidentificationActionBasicProfile()) {
        ++index;
        if (tag.group == 0x0000 || tag.group == 0x0002 || tag == Dicom::DeidentificationKeys::privateAttributes ||
            tag == Dicom::DeidentificationKeys::curveData || !isDictionaryTag(tag))
            continue;
        putMarker(*dataset, tag.key(), index);
        if (tag.group == 0x6000)  // the overlay rows stand for every overlay group
            putMarker(*dataset, DcmTagKey(0x6002, tag.element), index);
    }
    DcmItem& d = *dataset;
    d.putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    d.putAndInsertString(DCM_SOPInstanceUID, options.sopInstanceUid.c_str());
    d.putAndInsertString(DCM_StudyInstanceUID, options.studyUid.c_str());
    d.putAndInsertString(DCM_SeriesInstanceUID, options.seriesUid.c_str());
    d.putAndInsertString(DCM_FrameOfReferenceUID, options.frameOfReferenceUid.c_str());
    d.putAndInsertString(DCM_Modality, "CT");
    d.putAndInsertString(DCM_BurnedInAnnotation, options.burnedInAnnotation ? "YES" : "NO");
    putMonochromeImage(d, 4, 4, 16, 16);
    Uint16 pixels[16];
    for (int i = 0; i < 16; ++i)
        pixels[i] = static_cast<Uint16>(i * 1000 + 7);
    d.putAndInsertUint16Array(DCM_PixelData, pixels, 16);

    // Private group with a creator and a value, and a nested private sequence.
    d.putAndInsertString(DcmTag(0x0009, 0x0010, EVR_LO), "ACME PHIMARK CREATOR");
    d.putAndInsertString(DcmTag(0x0009, 0x1001, EVR_LO), "PHIMARK private value");
    // Curve data, a retired repeating group.
    d.putAndInsertString(DcmTag(0x5000, 0x0022, EVR_LO), "PHIMARK curve description");
    // A sequence the table does not name, whose nested items hold identifying attributes.
    DcmItem* outer = nullptr;
    d.findOrCreateSequenceItem(DCM_VOILUTSequence, outer, -2);
    outer->putAndInsertString(DCM_PatientName, "PHIMARK^Outer");
    outer->putAndInsertString(DCM_LUTExplanation, "harmless");
    DcmItem* inner = nullptr;
    outer->findOrCreateSequenceItem(DCM_RealWorldValueMappingSequence, inner, -2);
    inner->putAndInsertString(DCM_PatientID, "PHIMARK-inner-id");
    inner->putAndInsertString(DCM_ReferencedSOPInstanceUID, options.sopInstanceUid.c_str());
    d.findAndDeleteElement(DCM_ReferencedImageSequence);
    if (!options.referencedSopInstanceUid.empty()) {
        DcmItem* reference = nullptr;
        d.findOrCreateSequenceItem(DCM_ReferencedImageSequence, reference, -2);
        reference->putAndInsertString(DCM_ReferencedSOPClassUID, UID_CTImageStorage);
        reference->putAndInsertString(DCM_ReferencedSOPInstanceUID, options.referencedSopInstanceUid.c_str());
    }
    return dataset;
}

bool writePhiFile(const QString& path, const PhiDatasetOptions& options)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    DcmFileFormat file(makePhiDataset(options).release(), OFFalse);
    return file.saveFile(QFile::encodeName(path).constData(), EXS_LittleEndianExplicit).good();
}

std::vector<std::string> survivingMarkers(DcmItem& item)
{
    std::vector<std::string> out;
    collect(item, out);
    return out;
}

}  // namespace Dravelin::Test
