#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// dravelin-dicom web-scan URL [--user U] [--password-env VAR] [--token-env VAR] [--threads N]
//                             [--json] [--no-images]
// Passwords and tokens come from environment variables so they never appear in a process list.
int runWebScanCommand(const QStringList& args);

}  // namespace Dravelin::Cli
