#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// `dravelin-dicom scan PATH [options]` (`--help` lists them). `args` are the arguments after the
// command name. PATH is a folder or a DICOMDIR file. Prints progress on stderr and on stdout the
// shown series as a table (the browser's tree with --tree, one JSON document with --json), a
// summary line and the files left out. Returns the exit status: 0 on success, 1 when a series
// given to --select is not shown, 2 for a bad command line or a PATH that does not exist, cannot
// be read or is a file that is not a DICOMDIR.
int runScanCommand(const QStringList& args);

}  // namespace Dravelin::Cli
