#include "host/app/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>

namespace Dravelin::QtHelpers {

namespace {

// "XML file (*.xml)" -> "xml"; empty when the filter names no plain suffix.
QString firstSuffix(const QString& filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9_]+)"));
    const QRegularExpressionMatch match = pattern.match(filter);
    return match.hasMatch() ? match.captured(1) : QString();
}

// Runs `dialog` with the options widget below its file list; the widget goes back to its
// former parent afterwards, so the dialog never deletes it.
QStringList run(QFileDialog& dialog, QWidget* optionsWidget, bool nativeDialog, QString* selectedFilter)
{
    QPointer<QWidget> options(optionsWidget);
    QWidget* formerParent = optionsWidget ? optionsWidget->parentWidget() : nullptr;
    const bool wasHidden = optionsWidget && optionsWidget->isHidden();
    dialog.setOption(QFileDialog::DontUseNativeDialog, !nativeDialog || optionsWidget);
    if (optionsWidget) {
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(optionsWidget, grid->rowCount(), 0, 1, grid->columnCount());
        optionsWidget->show();
    }
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (options) {
        options->setParent(formerParent);
        options->setHidden(wasHidden);
    }
    if (!accepted)
        return {};
    if (selectedFilter)
        *selectedFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles();
}

QString startFolder(const QString& settingsKey, const QString& start)
{
    return start.isEmpty() ? rememberedDirectory(settingsKey) : start;
}

void remember(const QString& settingsKey, const QString& folder)
{
    if (!settingsKey.isEmpty() && !folder.isEmpty())
        QSettings().setValue(settingsKey, folder);
}

}  // namespace

QString rememberedDirectory(const QString& settingsKey)
{
    const QString dir = settingsKey.isEmpty() ? QString() : QSettings().value(settingsKey).toString();
    if (!dir.isEmpty() && QFileInfo(dir).isDir())
        return dir;
    return QDir::homePath();
}

QString getOpenFilename(QWidget* parent, const QString& settingsKey, const QString& caption, const QString& filter,
                        QString* selectedFilter, const QString& start, QWidget* optionsWidget, bool nativeDialog)
{
    QFileDialog dialog(parent, caption, startFolder(settingsKey, start), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QStringList files = run(dialog, optionsWidget, nativeDialog, selectedFilter);
    if (files.isEmpty())
        return QString();
    remember(settingsKey, QFileInfo(files.constFirst()).absolutePath());
    return files.constFirst();
}

QString getSaveFilename(QWidget* parent, const QString& settingsKey, const QString& caption, const QString& filter,
                        QString* selectedFilter, const QString& start, QWidget* optionsWidget, bool nativeDialog)
{
    QFileDialog dialog(parent, caption, startFolder(settingsKey, start), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QString chosenFilter;
    const QStringList files = run(dialog, optionsWidget, nativeDialog, &chosenFilter);
    if (files.isEmpty())
        return QString();
    QString path = files.constFirst();
    if (QFileInfo(path).suffix().isEmpty()) {
        const QString suffix = firstSuffix(chosenFilter);
        if (!suffix.isEmpty())
            path += "." + suffix;
    }
    if (selectedFilter)
        *selectedFilter = chosenFilter;
    remember(settingsKey, QFileInfo(path).absolutePath());
    return path;
}

QStringList askForFiles(const QString& settingsKey, const QString& caption, const QString& filter,
                        QString* selectedFilter, QWidget* parent, QWidget* optionsWidget, bool nativeDialog)
{
    QFileDialog dialog(parent, caption, rememberedDirectory(settingsKey), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    const QStringList files = run(dialog, optionsWidget, nativeDialog, selectedFilter);
    if (!files.isEmpty())
        remember(settingsKey, QFileInfo(files.constFirst()).absolutePath());
    return files;
}

QString getExistingDirectory(QWidget* parent, const QString& settingsKey, const QString& caption, const QString& start,
                             QWidget* optionsWidget, bool nativeDialog)
{
    QFileDialog dialog(parent, caption, startFolder(settingsKey, start));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    const QStringList folders = run(dialog, optionsWidget, nativeDialog, nullptr);
    if (folders.isEmpty())
        return QString();
    remember(settingsKey, folders.constFirst());
    return folders.constFirst();
}

}  // namespace Dravelin::QtHelpers
