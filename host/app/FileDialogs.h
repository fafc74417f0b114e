#pragma once

#include <QString>

class QWidget;

namespace Dravelin::QtHelpers {

// A save-file chooser that opens in the folder remembered under `settingsKey` (QSettings of the
// application) and remembers the folder of the chosen file there. When the user types a name
// without a suffix, the first suffix of the chosen filter is appended. Empty when cancelled.
QString getSaveFilename(QWidget* parent, const QString& caption, const QString& filter, const QString& settingsKey,
                        QString* selectedFilter = nullptr);

// The folder remembered under `settingsKey`, or the home folder.
QString rememberedDirectory(const QString& settingsKey);

}  // namespace Dravelin::QtHelpers
