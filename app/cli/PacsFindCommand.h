#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// dravelin-dicom pacs-find --host H --port P --aec CALLED [--aet CALLING] [--patient FILTER]
//                          [--study FILTER] [--series] [--json] [--no-images] [--timeout S]
int runPacsFindCommand(const QStringList& args);

}  // namespace Dravelin::Cli
