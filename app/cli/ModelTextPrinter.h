#pragma once

#include <QTextStream>

class QAbstractItemModel;

namespace Dravelin::Cli {

// Prints a browser model as the browser shows it: every row's display text indented by depth,
// its check box ("[x]", "[-]", "[ ]") where it has one, and under it the row's property list
// as "label: value" lines. The text comes from the model itself, so the command line and the
// browser cannot disagree. `model` is the browser model or a proxy over it (the filter model),
// whose rows are then printed as the browser's view shows them.
void printModel(QTextStream& out, const QAbstractItemModel& model, bool withImages);

}  // namespace Dravelin::Cli
