#pragma once

#include <QByteArray>

#include <memory>
#include <string>
#include <variant>
#include <vector>

class DcmItem;
class QJsonObject;

namespace Dravelin::Dicom {

// Reads the DICOM JSON model of DICOMweb answers (an array of objects keyed by "GGGGEEEE")
// into DCMTK items.
//
// Every VR is converted: texts (several values joined by "\"), person names from their
// Alphabetic / Ideographic / Phonetic groups, IS and DS given as JSON numbers or strings, binary
// numbers (US, SS, UL, SL, UV, SV, FL, FD), AT, sequences (recursively), and InlineBinary (base64)
// for OB, OW, OF, OD, OL, OV and UN. Attributes that only carry a BulkDataURI are left out: a
// search never fetches bulk data. The text of JSON is UTF-8, so each top-level item declares
// "ISO_IR 192" whatever character set the server named.
//
// A broken attribute is skipped (and counted in `skipped`); an answer that is not JSON or not
// an array of objects is an error.
class DicomJsonReader
{
public:
    using Items = std::vector<std::shared_ptr<DcmItem>>;

    // The items, or an error text saying why the answer is unreadable.
    static std::variant<Items, std::string> readArray(const QByteArray& json, int* skipped = nullptr);
    // Adds the attributes of one JSON object to `item`; answers the number skipped.
    static int readObject(const QJsonObject& object, DcmItem& item);
};

}  // namespace Dravelin::Dicom
