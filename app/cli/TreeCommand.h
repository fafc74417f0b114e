#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// dravelin-dicom tree FILE...: one record chain per file, merged into one tree and printed.
// Unreadable files are reported on stderr and skipped. Returns the exit status (2: usage).
int runTreeCommand(const QStringList& args);

}  // namespace Dravelin::Cli
