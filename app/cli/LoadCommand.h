#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// `dravelin-dicom load LOCATION [--json]`: loads a location (a location string as the browser
// produces it: file, folder, DICOMweb or PACS URLs, "##"-joined) through the host's loader and
// prints each image set: kind, size, slices and spacing of every image, with the SOP Instance
// UIDs of its instances. Returns 0 on success, 2 when the location cannot be loaded (with the
// reason in one line) or for a bad command line.
int runLoadCommand(const QStringList& args);

}  // namespace Dravelin::Cli
