#include "host/ui/WidgetHelpers.h"

#include "host/core/Log.h"

#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QLayout>
#include <QWidget>

static void initHostIconResources()
{
    Q_INIT_RESOURCE(host_icons);
}

namespace Dravelin::QtHelpers {

namespace {

const int IconSizes[] = {16, 24, 32, 48, 64};

QString iconPath(int size, const QString& name)
{
    return QStringLiteral(":/host/icons/%1/%2").arg(size).arg(name);
}

void setContentsVisible(QGroupBox* box, bool visible)
{
    for (QObject* child : box->children())
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow())
            widget->setVisible(visible);
}

}  // namespace

QIcon generateMultiSizeIcon(const QString& name)
{
    static const bool registered = (initHostIconResources(), true);
    Q_UNUSED(registered);

    QIcon icon;
    if (name.startsWith(':') || name.startsWith('/')) {
        if (QFile::exists(name))
            icon.addFile(name);
    } else {
        for (int size : IconSizes)
            if (QFile::exists(iconPath(size, name)))
                icon.addFile(iconPath(size, name), QSize(size, size));
        // Images an application or plug-in ships at the resource root.
        if (icon.isNull() && QFile::exists(":/" + name))
            icon.addFile(":/" + name);
    }
    if (icon.isNull())
        Log::log(3, "QtHelpers", "There is no icon " + name);
    return icon;
}

void makeExpandable(QGroupBox* box, bool expanded)
{
    if (!box)
        return;
    generateMultiSizeIcon(QStringLiteral("ExpandOpen.png"));  // registers the resources
    box->setCheckable(true);
    box->setChecked(expanded);
    // The check indicator becomes the arrow.
    box->setStyleSheet(
        box->styleSheet() +
        QStringLiteral(" QGroupBox::indicator { width: 12px; height: 12px; }"
                       " QGroupBox::indicator:unchecked { image: url(:/host/icons/16/ExpandClosed.png); }"
                       " QGroupBox::indicator:checked { image: url(:/host/icons/16/ExpandOpen.png); }"));
    setContentsVisible(box, expanded);
    QObject::connect(box, &QGroupBox::toggled, box, [box](bool open) {
        setContentsVisible(box, open);
        if (box->layout())
            box->layout()->activate();
        // A dialog fits its opened or closed section; other windows keep their size.
        if (auto* dialog = qobject_cast<QDialog*>(box->window()))
            dialog->adjustSize();
    });
}

}  // namespace Dravelin::QtHelpers
