#include "host/ui/HelpMenu.h"

#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <openjpeg.h>
#include <vtkVersion.h>

namespace Dravelin {

QMenu* HelpMenu::create(QWidget* parent)
{
    auto* menu = new QMenu(QCoreApplication::translate("HelpMenu", "&Help"), parent);
    menu->setObjectName(QStringLiteral("helpMenu"));
    menu->addAction(QCoreApplication::translate("HelpMenu", "&Keyboard Shortcuts"), parent, [parent] {
        QMessageBox::information(parent, QCoreApplication::translate("HelpMenu", "Keyboard Shortcuts"),
                                 shortcutsText());
    });
    menu->addAction(QCoreApplication::translate("HelpMenu", "&About"), parent, [parent] {
        QMessageBox::about(parent, QCoreApplication::translate("HelpMenu", "About"), aboutText());
    });
    return menu;
}

QString HelpMenu::shortcutsText()
{
    static const char* rows[][2] = {
        {"Up / Down", "next / previous slice"},
        {"Page Up / Page Down", "ten slices forward / back"},
        {"Home / End", "first / last slice"},
        {"+ / -", "zoom in / out"},
        {"R", "fit the view to the data"},
        {"Wheel", "next or previous slice (Shift: frame; Ctrl: zoom)"},
        {"Left drag", "window width (right) and level (down)"},
        {"Right click", "window presets"},
        {"Middle drag, Shift + left drag", "pan"},
    };
    QString html = QStringLiteral("<p>%1</p><table>")
                       .arg(QCoreApplication::translate("HelpMenu", "In the slice view under the mouse:"));
    for (const auto& row : rows)
        html += QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>")
                    .arg(QString::fromLatin1(row[0]), QCoreApplication::translate("HelpMenu", row[1]));
    return html + QStringLiteral("</table>");
}

QString HelpMenu::aboutText()
{
    return QStringLiteral("%1 %2<br>Qt %3, DCMTK %4, VTK %5, OpenJPEG %6")
        .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion(),
             QString::fromLatin1(qVersion()), QStringLiteral(OFFIS_DCMTK_VERSION_STRING),
             QString::fromLatin1(vtkVersion::GetVTKVersion()), QString::fromLatin1(opj_version()));
}

}  // namespace Dravelin
