#pragma once

#include <QString>

#include <memory>
#include <string>
#include <vector>

class DcmDataset;
class DcmItem;

namespace Dravelin::Test {

// A small CT image that identifies its patient everywhere the de-identification table looks:
// every attribute of the Basic table that DCMTK's dictionary knows holds a value valid for its
// VR with a marker in it, as do private groups, curve and overlay groups and nested sequences.
// Every sequence holds an item with attributes the table names and attributes it does not name
// (codes, report text, a private group, a nested code sequence) besides an instance reference.
struct PhiDatasetOptions
{
    std::string studyUid = "1.2.3.999.1";
    std::string seriesUid = "1.2.3.999.2";
    std::string sopInstanceUid = "1.2.3.999.3";
    std::string frameOfReferenceUid = "1.2.3.999.4";
    std::string referencedSopInstanceUid;  // put into ReferencedImageSequence when not empty
    bool burnedInAnnotation = false;
};

// The texts no attribute may hold after de-identification with the Basic profile (UIDs are
// checked for their marker root only).
extern const char* const kTextMarker;  // "PHIMARK"
extern const char* const kUidMarker;   // "1.2.3.999."

std::unique_ptr<DcmDataset> makePhiDataset(const PhiDatasetOptions& options = PhiDatasetOptions());
// That dataset as an explicit little endian file, its folder made as needed; false when not written.
bool writePhiFile(const QString& path, const PhiDatasetOptions& options = PhiDatasetOptions());

// "tag: value" for every element, at any nesting level, that still holds a marker.
std::vector<std::string> survivingMarkers(DcmItem& item);

// The tags of the Basic table that the dataset above fills (dictionary-known single tags).
int phiAttributeCount();

}  // namespace Dravelin::Test
