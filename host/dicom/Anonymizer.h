#pragma once

#include "host/dicom/DeidentificationProfiles.h"

#include <memory>
#include <string>

class DcmItem;

namespace Dravelin::Dicom {

class UidMap;

// Applies a de-identification action table to datasets, at every nesting level.
//
// What each code does:
//  - X removes the element. Z empties it (a sequence loses its items).
//  - D puts a dummy value valid for the VR ("ANONYMIZED" for texts, 19000101 for dates,
//    000000.00 for times, 0 for numbers, a new UID for UIDs, two zero bytes for OB/UN...).
//    On a sequence, D keeps the items and applies the table inside them.
//  - K keeps the value; inside a kept sequence the table still applies.
//  - C: there is no generic way to keep the meaning without the identity, so a value is
//    replaced like D; a sequence is kept and cleaned by the table like K.
//  - U replaces every UID value with its replacement from the run's UidMap.
//  - Combined codes keep the attribute present, because without the IOD's attribute types at
//    hand only that never drops a Type 1 or Type 2 attribute: X/Z acts as Z; Z/D, X/D and
//    X/Z/D act as D; X/Z/U* keeps the sequence, whose UIDs the table's U rows then replace.
//  - An unknown code removes the element (logged), so a typo never leaks a value.
// Attributes the table does not name are kept (sequences among them are still walked).
// Private attributes (odd groups) follow their own row when the table names the tag, else are
// kept with `keepPrivateTags`, else follow the table's private row, else are removed.
//
// Afterwards PatientIdentityRemoved is "YES", DeidentificationMethod names the profile and
// DeidentificationMethodCodeSequence holds 113100 (Basic Application Confidentiality Profile)
// and, when UIDs were kept, 113110 (Retain UIDs Option). Text inside the pixel data is not
// touched: an image whose BurnedInAnnotation is "YES" is logged as a warning (level 2).
//
// One Anonymizer may be used from several threads at once (the UidMap is thread-safe).
class Anonymizer
{
public:
    Anonymizer(DeidentificationActionTable table, bool keepPrivateTags, std::shared_ptr<UidMap> uids);
    ~Anonymizer();
    Anonymizer(const Anonymizer&) = delete;
    Anonymizer& operator=(const Anonymizer&) = delete;

    // False (and logged) when DCMTK refused a change; the dataset may then be partly changed
    // and must not be written. Never throws.
    bool apply(DcmItem& dataset) const;

    const UidMap& uids() const { return *m_uids; }

private:
    enum class Action;
    struct Context;

    Action actionFor(TagProxy tag, const std::string** code) const;
    bool processItem(DcmItem& item, Context& context) const;
    bool addMethod(DcmItem& dataset) const;

    DeidentificationActionTable m_table;
    bool m_keepPrivateTags;
    std::shared_ptr<UidMap> m_uids;
    std::string m_methodText;
    bool m_uidsRetained = false;
};

}  // namespace Dravelin::Dicom
