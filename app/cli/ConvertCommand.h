#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// `dravelin-dicom convert LOCATION OUT [--compression NAME|N] [--quality Q]`: loads the image
// sets of a location and writes each as new DICOM instances: to OUT as a folder (one file per
// instance; one sub-folder per image set when there are several), to OUT as a file when there
// is a single instance and OUT is not a folder, or to a PACS when OUT is a pacs:// URL.
// Exit status 0 when everything was written, 1 when some of it was, 2 when nothing was.
int runConvertCommand(const QStringList& args);

}  // namespace Dravelin::Cli
