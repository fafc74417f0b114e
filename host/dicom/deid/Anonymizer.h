#pragma once

#include "host/dicom/deid/DeidentificationProfiles.h"

#include <memory>
#include <string>

class DcmElement;
class DcmItem;
class DcmSequenceOfItems;

namespace Dravelin::Dicom {

class UidMap;

// Applies a de-identification action table to datasets, at every nesting level.
//
// What each code does to an attribute that is not a sequence:
//  - X removes it. Z empties it. K keeps it.
//  - D puts a dummy value valid for the VR ("ANONYMIZED" for texts, 19000101 for dates,
//    000000.00 for times, 0 for numbers, a new UID for UIDs, two zero bytes for OB/UN...).
//    Patient ID is the exception: each original ID gets its own dummy, the same one in every
//    file of the run (UidMap::patientId), so distinct patients stay distinct.
//  - C: there is no generic way to keep the meaning without the identity, so it acts as D.
//  - U replaces every UID value with its replacement from the run's UidMap, also when the
//    dictionary does not know the tag and the value is stored as UN.
//  - Combined codes keep the attribute present, because without the IOD's attribute types at
//    hand only that never drops a Type 1 or Type 2 attribute: X/Z acts as Z; Z/D, X/D and
//    X/Z/D act as D.
//  - An unknown code removes the attribute (logged), so a typo never leaks a value.
// And to a sequence, so that nothing the table does not name survives inside it:
//  - X removes it, Z and X/Z leave it without items.
//  - D (and Z/D, X/D, X/Z/D) leaves one empty item: a dummy holding nothing of the original.
//  - C cleans every attribute inside it, at every level (each gets a dummy, UIDs are replaced).
//  - X/Z/U* keeps, at every level, only UIDs (those the table names replaced, the others such
//    as SOP class UIDs kept), whole numbers that locate inside the referenced instance (frame,
//    segment numbers...) and the nested sequences holding them.
//  - K, or no row at all: the sequence stays and the table applies to every nested attribute.
// Other attributes the table does not name are kept. Private attributes (odd groups) follow
// their own row when the table names the tag, else are kept with `keepPrivateTags`, else follow
// the table's private row, else are removed. A private creator stays, unchanged, as long as an
// element of its block stays. Group 0004 (directory structure, meaningless and wrong outside a
// DICOMDIR) is removed from the dataset.
//
// Afterwards:
//  - when the profile is at least as strict as the Basic profile on every row of that profile,
//    private attributes are not kept and the image has no burned-in annotation:
//    PatientIdentityRemoved "YES", a DeidentificationMethod value "Basic Application
//    Confidentiality Profile" (plus the profile name for a stricter custom table) and code
//    113100 in DeidentificationMethodCodeSequence;
//  - otherwise PatientIdentityRemoved "NO" (unless an earlier run made it "YES" and there is no
//    burned-in annotation) and the profile name as DeidentificationMethod value, without a code.
//  Values and code items of an earlier de-identification are kept; ours are appended.
//  - LongitudinalTemporalInformationModified is "UNMODIFIED" when any date or time (versions of
//    coding resources aside) is left as it was, else "REMOVED"; dates never shifted here, so
//    "MODIFIED" (or "REMOVED") stays only where an earlier run wrote it over dates we kept.
// Text inside the pixel data is not touched here: an image whose BurnedInAnnotation is "YES" gets
// PatientIdentityRemoved "NO"; naming the file is the caller's (hasBurnedInAnnotation), and so is
// removing the text first (BurnedInTextRemoval).
//
// Lists are walked with iterators, so sequences of many items cost linear time.
// One Anonymizer may be used from several threads at once (the UidMap is thread-safe).
class Anonymizer
{
public:
    // `profileName` names a table that is neither of the presets in DeidentificationMethod
    // (default "Custom Profile").
    Anonymizer(DeidentificationActionTable table, bool keepPrivateTags, std::shared_ptr<UidMap> uids,
               const std::string& profileName = std::string());
    ~Anonymizer();
    Anonymizer(const Anonymizer&) = delete;
    Anonymizer& operator=(const Anonymizer&) = delete;

    // False (and logged) when DCMTK refused a change; the dataset may then be partly changed
    // and must not be written. Never throws. `pixelsCleaned`: the burned-in text was removed
    // (BurnedInTextRemoval), which adds the Clean Pixel Data Option to the method (and its code
    // 113101 beside 113100).
    bool apply(DcmItem& dataset, bool pixelsCleaned = false) const;

    const UidMap& uids() const { return *m_uids; }

    // BurnedInAnnotation "YES": the pixels show text that this class does not remove.
    static bool hasBurnedInAnnotation(DcmItem& dataset);

    // True when the table is at least as strict as the Basic profile on each of its rows.
    static bool atLeastAsStrictAsBasic(const DeidentificationActionTable& table);

private:
    enum class Action;
    enum class Mode;
    struct Context;

    Action actionFor(TagProxy tag, const std::string** code) const;
    void processItem(DcmItem& item, Mode mode, bool topLevel, Context& context) const;
    bool processElement(DcmItem& item, DcmElement* element, Mode mode, Context& context) const;
    void processSequence(DcmSequenceOfItems& sequence, Mode mode, Context& context) const;
    bool putDummy(DcmItem& item, DcmElement& element) const;
    bool replaceUids(DcmItem& item, DcmElement& element) const;
    bool addMethod(DcmItem& dataset, bool datesKept, bool pixelsCleaned) const;

    DeidentificationActionTable m_table;
    bool m_keepPrivateTags;
    std::shared_ptr<UidMap> m_uids;
    std::string m_name;        // the method without the Basic profile's claim
    std::string m_methodText;  // the method with it
    bool m_strict = false;
};

}  // namespace Dravelin::Dicom
