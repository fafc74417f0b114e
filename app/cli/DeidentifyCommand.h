#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// dravelin-dicom deidentify INPUT OUTPUT [--profile basic|relaxed|FILE.xml] [--keep-private]
//                           [--series UID[,UID...]]
// Scans INPUT and writes de-identified copies of all (or the given) series under OUTPUT at the
// same relative paths, with a progress line on stderr. Exit status: 0 when every file was
// written, 1 otherwise ("Not all files could be saved. See log for details"), 2 for unusable
// arguments (missing input, an output that is a file, an unreadable profile).
int runDeidentifyCommand(const QStringList& args);

}  // namespace Dravelin::Cli
