#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// dravelin-dicom tree FILE...: one record chain per file, merged into one tree and printed.
// Unreadable files are named on stderr and skipped. Exit status: 0 when every file was read,
// 1 when some could not be, 2 when none could be (or for a bad command line).
int runTreeCommand(const QStringList& args);

}  // namespace Dravelin::Cli
