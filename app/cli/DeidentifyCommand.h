#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// dravelin-dicom deidentify INPUT OUTPUT [--profile basic|relaxed|FILE.xml] [--keep-private]
//                           [--series UID[,UID...]] [--overwrite] [--in-place] [--resume]
//                           [--keep-mapping FILE]
// Scans INPUT and writes de-identified copies of all (or the given) series under OUTPUT at the
// same relative paths, with a progress line on stderr, and accounts for every file found:
// written, failed or left out (with the reason). Exit status: 0 when no file failed, 1 when some
// did or the run was interrupted ("Not all files could be saved. See log for details"), 2 for
// unusable arguments (missing input, an output that is a file, an unreadable profile, an
// unfinished run in OUTPUT without --resume) and nothing written.
int runDeidentifyCommand(const QStringList& args);

}  // namespace Dravelin::Cli
