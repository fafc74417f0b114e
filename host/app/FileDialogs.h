#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace Dravelin::QtHelpers {

// File choosers that remember a folder: each opens in the folder remembered under
// `settingsKey` (QSettings of the application; the home folder at first) and remembers the
// folder of the choice there. `start`, when not empty, is opened instead (a file or folder).
// `optionsWidget`, when given, is shown below the file list (the widget stays the caller's).
// `nativeDialog` asks for the desktop's own dialog, which cannot show an options widget.
// All return empty when cancelled.

QString getOpenFilename(QWidget* parent, const QString& settingsKey, const QString& caption, const QString& filter,
                        QString* selectedFilter = nullptr, const QString& start = QString(),
                        QWidget* optionsWidget = nullptr, bool nativeDialog = false);

// When the user types a name without a suffix, the first suffix of the chosen filter is
// appended. Overwriting an existing file is confirmed by the dialog.
QString getSaveFilename(QWidget* parent, const QString& settingsKey, const QString& caption, const QString& filter,
                        QString* selectedFilter = nullptr, const QString& start = QString(),
                        QWidget* optionsWidget = nullptr, bool nativeDialog = false);

// Several existing files, in the order the dialog gives them.
QStringList askForFiles(const QString& settingsKey, const QString& caption, const QString& filter,
                        QString* selectedFilter = nullptr, QWidget* parent = nullptr, QWidget* optionsWidget = nullptr,
                        bool nativeDialog = false);

// An existing folder; the folder itself is remembered.
QString getExistingDirectory(QWidget* parent, const QString& settingsKey, const QString& caption,
                             const QString& start = QString(), QWidget* optionsWidget = nullptr,
                             bool nativeDialog = false);

// The folder remembered under `settingsKey`, or the home folder.
QString rememberedDirectory(const QString& settingsKey);

}  // namespace Dravelin::QtHelpers
