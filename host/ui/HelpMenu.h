#pragma once

#include <QString>

class QMenu;
class QWidget;

namespace Dravelin {

// The Help menu: the keyboard shortcuts of the views and the versions of the application and
// the libraries it runs on.
class HelpMenu
{
public:
    // A new "Help" menu owned by `parent`.
    static QMenu* create(QWidget* parent);
    // The shortcuts as an HTML table.
    static QString shortcutsText();
    // The version line of the application and of Qt, DCMTK, VTK and OpenJPEG.
    static QString aboutText();
};

}  // namespace Dravelin
