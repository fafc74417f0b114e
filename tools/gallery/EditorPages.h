#pragma once

#include <QString>

class QWidget;

// Pages of the gallery that show the DICOM editor.
namespace EditorPages {

// The editor after scanning `folder`, every series checked, the first one current, with an
// output folder filled in.
QWidget* editor(const QString& folder);
// The preview of burned-in text on a generated ultrasound frame: the boxes found, or (`result`)
// the frame as it will be written.
QWidget* burnedInPreview(bool result);
// The confidentiality profile dialog on the Basic profile, its table filtered by `filter`.
QWidget* profileDialog(const QString& filter);

}  // namespace EditorPages
