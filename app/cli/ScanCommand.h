#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// `dravelin-dicom scan PATH [--dicomdir-only] [--no-recursive] [--no-header-check] [--threads N] [--json]`.
// `args` are the arguments after the command name. PATH is a folder or a DICOMDIR file. Prints
// progress on stderr and the tree (or one JSON document) on stdout. Returns the exit status:
// 0 on success, 1 when a DICOMDIR cannot be read, 2 for a bad command line or a PATH that
// does not exist or cannot be read.
int runScanCommand(const QStringList& args);

}  // namespace Dravelin::Cli
