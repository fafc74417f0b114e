#pragma once

#include "host/dicom/TagProxy.h"

#include <map>
#include <optional>
#include <string>

namespace Dravelin::Dicom {

// De-identification action codes by tag: "D", "Z", "X", "K", "C", "U", "Z/D", "X/Z", "X/D",
// "X/Z/D", "X/Z/U*" (what each does is documented with Utils::anonymize).
using DeidentificationActionTable = std::map<TagProxy, std::string>;

// Rows of the published table that stand for many tags. They are stored under one key each,
// which survives a profile file round trip like any other tag:
//  - (50xx,xxxx) Curve Data: every element of the even groups 5000-50FF -> key (5000,ffff)
//  - (60xx,3000) Overlay Data, (60xx,4000) Overlay Comments: the element in every even group
//    6000-60FF -> keys (6000,3000) and (6000,4000), the first group of the range
//  - (gggg,eeee) Private Attributes (odd groups) -> key (ffff,ffff)
// An exact row for a concrete tag takes precedence over these.
namespace DeidentificationKeys {
constexpr TagProxy curveData{0x5000, 0xffff};
constexpr TagProxy overlayData{0x6000, 0x3000};
constexpr TagProxy overlayComments{0x6000, 0x4000};
constexpr TagProxy privateAttributes{0xffff, 0xffff};
}  // namespace DeidentificationKeys

// The DICOM Basic Application Level Confidentiality Profile (PS3.15 Table E.1-1, edition 2026c),
// read from the data file built into the library. Every call returns the same table.
const DeidentificationActionTable& tagDeidentificationActionBasicProfile();

// Basic, except that these rows become K:
//  - Study Description (0008,1030) and Series Description (0008,103e)
//  - Acquisition Date (0008,0022), Acquisition DateTime (0008,002a) and Acquisition Time (0008,0032)
//  - every row whose "Retain UIDs Option" column says K (all instance, series, study, frame of
//    reference and other UIDs, 60 rows), and every other U row (Digital Signature UID, UID)
const DeidentificationActionTable& tagDeidentificationActionRelaxedProfile();

// The key a table row's tag text maps to: "(0010,0010)" -> (0010,0010), "(60xx,3000)" ->
// overlayData, "(gggg,eeee)" -> privateAttributes; nothing for other texts.
std::optional<TagProxy> deidentificationRowKey(const std::string& tagText);

// The action for `tag`: the exact row, else the repeating-group row, else (odd groups) the
// private row. Null when the table has none.
const std::string* findDeidentificationAction(const DeidentificationActionTable& table, TagProxy tag);

}  // namespace Dravelin::Dicom
