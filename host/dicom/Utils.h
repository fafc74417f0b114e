#pragma once

#include "host/core/Url.h"
#include "host/dicom/Error.h"
#include "host/data/MemImage.h"
#include "host/dicom/TagProxy.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>

class DcmDataset;
class DcmItem;

namespace Dravelin::Dicom {
class UidMap;
}

namespace Dravelin::Dicom::Utils {

// DICOM TM ("HH", "HHMM", "HHMMSS", "HHMMSS.F" to six fraction digits, and the retired
// "HH:MM:SS.F" form; trailing padding ignored) to microseconds since midnight. An empty,
// malformed or out-of-range value gives an Error (code InvalidValue, type Warning).
std::variant<std::int64_t, Error> parseDICOMTime(const std::string& value);

// "M" -> "Male", "F" -> "Female", "O" -> "Other"; an empty value -> "Unknown"; other
// values are returned trimmed, as written. Case-insensitive for the codes.
std::string parseDICOMSex(const std::string& value);

// True when the file holds a 128-byte preamble followed by "DICM". Reads 132 bytes.
bool hasDicomHeader(const std::string& path);
// The same for the first `size` bytes of a file.
bool isDicomHeader(const char* data, std::size_t size);

// Whether texts under this SpecificCharacterSet (0008,0005) value, as DCMTK reads it, need a
// conversion to UTF-8: anything but none, ASCII or UTF-8 does (multi-valued ISO 2022
// declarations too, even when one value is ASCII).
bool needsUtf8Conversion(const std::string& specificCharacterSet);

// True when the file's meta header names it a directory of a file set (a DICOMDIR), whatever
// the file is called. Reads the meta header only.
bool isDicomdirFile(const std::string& path);

// Value representations whose values are raw bytes (OB, OW, OF, OD, OL, OV, UN and DCMTK's
// pixel-data forms) rather than text or numbers.
bool isBinaryVR(DcmEVR vr);

// Renders one frame (default: the first) of the dataset into an 8-bit image, using the
// dataset's own VOI window when it has one and the min-max window otherwise. With
// `fitThumbnail` the image is scaled down to at most 256 pixels on its longer side.
// Compressed pixel data (JPEG, JPEG-LS, RLE) is decoded; nothing (nullptr) when the frame
// cannot be rendered. Thread-safe.
std::unique_ptr<MemImage> generatePreview(DcmDataset& dataset, bool fitThumbnail, std::optional<int> frame);

// A warning a user should read before scanning this DICOMweb URL (plain http to another
// machine, credentials in the URL, ...), several separated by newlines; empty when none.
std::string checkDicomWebUrlWarnings(const std::string& url);

// Turns DCMTK's own stderr logging down to fatal messages, once per process (thread-safe):
// its warnings about odd files would flood the console during scans; we log failures ourselves.
void silenceDcmtkLogging();

// Tags that must never be edited by hand: file meta information, SOP identity, character set,
// pixel data and the attributes describing it.
const std::set<TagProxy>& readOnlyTags();

// Registers DCMTK's JPEG, JPEG-LS and RLE decoders once per process (thread-safe).
void registerCodecs();

// De-identifies `dataset` in place with an action table (tag -> PS3.15 action code, see
// DeidentificationProfiles.h and Anonymizer.h for what each code does). Private attributes are
// kept with `keepPrivateTags`, else removed unless the table says otherwise. `uids` carries the
// UID replacements of one conversion, so that every file of it gets the same new UID for the
// same old one; without it the replacements are consistent within this dataset only.
// False (logged) when a change failed; never throws.
bool anonymize(DcmItem& dataset, const std::map<TagProxy, std::string>& table, bool keepPrivateTags);
bool anonymize(DcmItem& dataset, const std::map<TagProxy, std::string>& table, bool keepPrivateTags,
               const std::shared_ptr<UidMap>& uids);

}  // namespace Dravelin::Dicom::Utils
