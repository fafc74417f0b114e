#include "app/cli/ModelTextPrinter.h"

#include "app/cli/TextFormat.h"
#include "browser/models/DicomBrowserModel.h"

#include <QUrl>

namespace Dravelin::Cli {

namespace {

QString checkBox(const QModelIndex& index)
{
    const QVariant state = index.data(Qt::CheckStateRole);
    if (!state.isValid())
        return {};
    switch (state.toInt()) {
        case Qt::Checked: return QStringLiteral("[x] ");
        case Qt::PartiallyChecked: return QStringLiteral("[-] ");
        default: return QStringLiteral("[ ] ");
    }
}

QString displayText(const QModelIndex& index)
{
    const QVariant display = index.data(Qt::DisplayRole);
    if (display.userType() == QMetaType::QUrl)
        return display.toUrl().toString();
    return display.toString();
}

void printRows(QTextStream& out, const QAbstractItemModel& model, const QModelIndex& parent, int depth, bool withImages)
{
    const QString indent(depth * 2, QLatin1Char(' '));
    const QString propertyIndent = indent + QStringLiteral("    ");
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (!withImages && index.data(DicomBrowserModel::ImageRole).isValid())
            continue;
        out << indent << checkBox(index) << TextFormat::printable(displayText(index)) << '\n';
        const auto properties = index.data(DicomBrowserModel::PropertiesRole).value<DicomBrowserModel::ParameterList>();
        for (const auto& [label, value] : properties) {
            QString text = TextFormat::printable(value, true);
            text.replace(QLatin1Char('\n'), QLatin1Char('\n') + propertyIndent + QString(label.size() + 2, ' '));
            out << propertyIndent << label << ": " << text << '\n';
        }
        printRows(out, model, index, depth + 1, withImages);
    }
}

}  // namespace

void printModel(QTextStream& out, const QAbstractItemModel& model, bool withImages)
{
    printRows(out, model, QModelIndex(), 0, withImages);
    out.flush();
}

}  // namespace Dravelin::Cli
