#pragma once

#include <QTextStream>

namespace Dravelin {
class DicomBrowserModel;
}

namespace Dravelin::Cli {

// Prints a browser model as the browser shows it: every row's display text indented by depth,
// its check box ("[x]", "[-]", "[ ]") where it has one, and under it the row's property list
// as "label: value" lines. The text comes from the model itself, so the command line and the
// browser cannot disagree.
void printModel(QTextStream& out, const DicomBrowserModel& model, bool withImages);

}  // namespace Dravelin::Cli
