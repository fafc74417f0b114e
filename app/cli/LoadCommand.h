#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// `dravelin-dicom load LOCATION [--json]`: loads a location string (files, folders with
// sub-queries, pacs:// and DICOMweb URLs, "##"-joined) with its pixels through the host's DICOM
// reader and prints every image set: per image its size, spacing, image-to-world matrix, voxel
// type, the minimum, maximum and mean of the rescaled values and the SOP Instance UIDs behind
// it; RT structure sets with their regions. Exit status 0 when everything loaded, 1 when some of
// it did (the errors on stderr), 2 when nothing did.
int runLoadCommand(const QStringList& args);

}  // namespace Dravelin::Cli
