#pragma once

#include <QTextStream>

class QAbstractItemModel;

namespace Dravelin::Cli {

// The series a view shows (the browser model or its filter model), one line each, in the
// view's order: patient, study, series, modality, number of images and dimensions (the exact
// ones when known, else the estimate). Text columns are shortened with "…" until the table fits
// in `width` characters; values are made printable. With `checkBoxes` each line starts with the
// series' check box ("[x] " or "[ ] ").
void printSeriesTable(QTextStream& out, const QAbstractItemModel& view, int width, bool checkBoxes);

// Columns of the terminal on stdout, else $COLUMNS, else 120.
int outputWidth();

}  // namespace Dravelin::Cli
