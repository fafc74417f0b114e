#include "host/app/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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

}  // namespace

QString rememberedDirectory(const QString& settingsKey)
{
    const QString dir = QSettings().value(settingsKey).toString();
    if (!dir.isEmpty() && QFileInfo(dir).isDir())
        return dir;
    return QDir::homePath();
}

QString getSaveFilename(QWidget* parent, const QString& caption, const QString& filter, const QString& settingsKey,
                        QString* selectedFilter)
{
    QFileDialog dialog(parent, caption, rememberedDirectory(settingsKey), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();

    QString path = dialog.selectedFiles().constFirst();
    const QString chosenFilter = dialog.selectedNameFilter();
    if (QFileInfo(path).suffix().isEmpty()) {
        const QString suffix = firstSuffix(chosenFilter);
        if (!suffix.isEmpty())
            path += "." + suffix;
    }
    if (selectedFilter)
        *selectedFilter = chosenFilter;
    QSettings().setValue(settingsKey, QFileInfo(path).absolutePath());
    return path;
}

}  // namespace Dravelin::QtHelpers
