#pragma once

#include <QString>

#include <vector>

namespace Dravelin::Dicom {
class Patient;
class Scanner;
}  // namespace Dravelin::Dicom

// Output shared by the commands that scan (folders, DICOMDIR files, PACS and DICOMweb servers).
namespace Dravelin::Cli {

class JsonWriter;

// One patient tree as JSON: keys are the record field names, dates yyyy-MM-dd, times
// HH:mm:ss.zzz, empty text for null dates and times, null for empty optionals.
void writePatientJson(JsonWriter& json, const Dicom::Patient& patient);

// "P patients, S studies, R series, I images, <what>, T seconds".
QString summaryLine(const std::vector<Dicom::Patient*>& patients, const QString& what, double seconds);

// {"patients":[...]} on stdout, then the summary on stderr.
void printJsonTree(const std::vector<Dicom::Patient*>& patients, const QString& summary);

// With json: one document {"patients":[...]} on stdout, the summary on stderr. Otherwise the
// scanner's patients are handed to a browser model, whose view is printed, then the summary.
void printTreeOutput(Dicom::Scanner& scanner, bool json, bool withImages, const QString& summary);

}  // namespace Dravelin::Cli
