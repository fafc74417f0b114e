#include "tools/gallery/EditorPages.h"

#include "browser/models/DicomBrowserModel.h"
#include "editor/DicomEditor.h"
#include "editor/DicomEditorAlgorithm.h"
#include "editor/OverrideConfidentialityDialog.h"

#include <QDir>
#include <QLineEdit>
#include <QTreeView>

#include <memory>

namespace EditorPages {

using namespace Dravelin;

QWidget* editor(const QString& folder)
{
    // The editor only points at its algorithm; the gallery keeps it for the whole run.
    static DicomEditorAlgorithm algorithm;
    auto* window = new DicomEditor(&algorithm);
    window->setCurrentPath(folder);
    window->browserModel()->scanDirectoryBlocking(folder, true, false, true);
    window->selectAll();
    if (auto* view = window->findChild<QTreeView*>(QStringLiteral("view"))) {
        view->expandToDepth(1);
        const QModelIndex study = view->model()->index(0, 0, view->model()->index(0, 0));
        view->setCurrentIndex(view->model()->index(0, 0, study));
    }
    window->findChild<QLineEdit*>(QStringLiteral("outputDirectoryEdit"))
        ->setText(QDir::home().filePath(QStringLiteral("deidentified")));
    window->resize(1242, 779);
    return window;
}

QWidget* profileDialog(const QString& filter)
{
    auto* dialog = new OverrideConfidentialityDialog(QStringLiteral("Basic Profile"), QString());
    dialog->applySettingsToTable();
    dialog->findChild<QLineEdit*>(QStringLiteral("filterLineEdit"))->setText(filter);
    return dialog;
}

}  // namespace EditorPages
