#pragma once

#include <QString>

class QWidget;

// Pages of the gallery that show the DICOM export dialog and the tag panel on data read through
// the host's DICOM reader. The data they show lives until the program ends.
namespace ExportPages {

// The export dialog on its first page (extensions, referenced images) for `ctFile`.
QWidget* exportExtensions(const QString& ctFile);
// The export dialog on its second page (destination, compression, and the information fields or
// with `tagsTab` the editable tag table).
QWidget* exportSettings(const QString& ctFile, bool tagsTab);
// The "Show DICOM Tags" panel in its frame for a multi-frame file, on frame `frame`.
QWidget* tagPanel(const QString& multiFrameFile, int frame);

}  // namespace ExportPages
