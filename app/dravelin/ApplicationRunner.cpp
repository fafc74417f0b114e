#include "app/dravelin/ApplicationRunner.h"

#include "host/app/FactoryRegistry.h"
#include "host/core/Log.h"
#include "host/plugin/PluginLoader.h"
#include "host/data/AnnotationModel.h"
#include "host/ui/DisplayWidgetMulti.h"
#include "host/ui/MainWindowBase.h"
#include "host/ui/ProgressWidget.h"
#include "host/ui/SettingsDialog.h"

#include "host/app/Algorithm.h"
#include "host/app/IoAlgorithm.h"
#include "host/properties/Properties.h"
#include "host/data/DataModel.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <optional>

namespace Dravelin {

namespace {

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
}

QString ioText(int ioMode)
{
    return ioMode == 0 ? QStringLiteral("  [reads]") : ioMode == 1 ? QStringLiteral("  [writes]") : QString();
}

void listPlugins(const PluginLoader& loader, const FactoryRegistry& registry, std::FILE* out)
{
    print(out, QStringLiteral("Plug-ins:"));
    for (const PluginLoader::Info& info : loader.plugins())
        print(out, QStringLiteral("  %1  %2").arg(info.id, info.path));
    print(out, QStringLiteral("Algorithms:"));
    for (const AlgorithmDescriptor* d : registry.algorithmDescriptors())
        print(out, QStringLiteral("  %1  \"%2\"%3").arg(d->id, d->name, ioText(d->ioMode)));
    print(out, QStringLiteral("Controller factories:"));
    for (const AlgorithmControllerFactory* f : registry.controllerFactories())
        print(out, QStringLiteral("  %1").arg(f->name()));
    print(out, QStringLiteral("Data controllers:"));
    for (const AlgorithmControllerFactory* f : registry.controllerFactories())
        for (const QString& name : f->dataControllerNames())
            print(out, QStringLiteral("  %1").arg(name));
    print(out, QStringLiteral("Settings pages:"));
    for (const auto& page : SettingsDialog::m_customSettingsWidgetGenerators)
        print(out, QStringLiteral("  %1").arg(page.first));
}

// Chooses the preset whose name starts with `name` from the toolbar's Window menu, as a user would.
bool applyWindowPreset(MainWindowBase& window, const QString& name)
{
    auto* button = window.findChild<QToolButton*>(QStringLiteral("windowPresetsButton"));
    QMenu* menu = button ? button->menu() : nullptr;
    if (!menu)
        return false;
    emit menu->aboutToShow();
    for (QAction* action : menu->actions())
        if (action->isEnabled() && action->text().startsWith(name, Qt::CaseInsensitive)) {
            action->trigger();
            return true;
        }
    return false;
}

}  // namespace

QString ApplicationRunner::defaultPluginDir()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("plugins"));
}

int ApplicationRunner::run(const QStringList& arguments, std::FILE* out, std::FILE* err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Dravelin: view DICOM series, meshes and annotations; the plug-ins of the plug-in folder add "
                       "their readers, tools and settings."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("LOCATION"),
                                 QStringLiteral("DICOM files or folders (or a location string) to open."),
                                 QStringLiteral("[LOCATION...]"));
    const QCommandLineOption pluginDir(
        QStringLiteral("plugin-dir"), QStringLiteral("Load the plug-ins of DIR (default: %1).").arg(defaultPluginDir()),
        QStringLiteral("DIR"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Once the locations are loaded and the window is idle, save the "
                                                       "window as a PNG file and exit."),
                                        QStringLiteral("FILE.png"));
    const QCommandLineOption list(QStringLiteral("list-plugins"),
                                  QStringLiteral("Print the loaded plug-ins and what they register, then exit."));
    const QCommandLineOption run(
        QStringLiteral("run"),
        QStringLiteral("Start the algorithm ID (as --list-plugins prints it) the way its menu entry does: a reader "
                       "opens the LOCATIONs itself; any other algorithm runs once they are loaded, on the first "
                       "loaded image set when it accepts one. With --screenshot, the window it opens is saved."),
        QStringLiteral("ID"));
    const QCommandLineOption compute(QStringLiteral("compute"),
                                     QStringLiteral("With --run: press the algorithm panel's Compute button once it "
                                                    "is shown, as a user would."));
    const QCommandLineOption cursorAt(QStringLiteral("cursor"),
                                      QStringLiteral("With --screenshot: put the cross-hair at the world point X,Y,Z "
                                                     "(mm) before the picture is taken."),
                                      QStringLiteral("X,Y,Z"));
    const QCommandLineOption windowPreset(
        QStringLiteral("window"),
        QStringLiteral("With --screenshot: apply the window preset NAME of the image shown (as the toolbar's "
                       "Window button lists it, e.g. Lung) before the picture is taken."),
        QStringLiteral("NAME"));
    parser.addOptions({pluginDir, screenshot, list, run, compute, cursorAt, windowPreset});
    if (!parser.parse(arguments)) {
        print(err, QStringLiteral("dravelin: %1 (see --help)").arg(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        print(out, parser.helpText());
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(out, QStringLiteral("dravelin %1").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    const QString folder = parser.isSet(pluginDir) ? parser.value(pluginDir) : defaultPluginDir();
    if (parser.isSet(pluginDir) && !QFileInfo(folder).isDir()) {
        print(err, QStringLiteral("dravelin: no plug-in folder %1 (see --plugin-dir)").arg(folder));
        return 2;
    }
    std::optional<Eigen::Vector3d> cursor;
    if (parser.isSet(cursorAt)) {
        const QStringList parts = parser.value(cursorAt).split(QLatin1Char(','));
        bool ok = parts.size() == 3;
        Eigen::Vector3d p;
        for (int i = 0; ok && i < 3; ++i)
            p[i] = parts[i].toDouble(&ok);
        if (!ok) {
            print(err, QStringLiteral("dravelin: --cursor needs three numbers X,Y,Z (see --help)"));
            return 2;
        }
        cursor = p;
    }
    const QString preset = parser.value(windowPreset);
    const QString shotPath = parser.value(screenshot);
    if (parser.isSet(screenshot) && !shotPath.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
        print(err, QStringLiteral("dravelin: --screenshot needs a .png file name"));
        return 2;
    }

    FactoryRegistry& registry = FactoryRegistry::global();
    registry.addHostFactories();
    // Declared before the window: plug-in code must stay loaded until the window is gone.
    PluginLoader loader(&registry);
    if (parser.isSet(list)) {
        loader.loadFolder(folder);
        listPlugins(loader, registry, out);
        return 0;
    }

    MainWindowBase window(&registry);
    loader.setApplicationController(&window);
    loader.loadFolder(folder);
    window.rebuildMenus();
    window.show();

    const QStringList locations = parser.positionalArguments();
    const QString runId = parser.value(run);
    const AlgorithmDescriptor* runDescriptor = runId.isEmpty() ? nullptr : registry.algorithmDescriptor(runId);
    if (!runId.isEmpty() && !runDescriptor) {
        print(err, QStringLiteral("dravelin: no algorithm %1 (see --list-plugins)").arg(runId));
        return 2;
    }
    const bool runReads = runDescriptor && runDescriptor->ioMode == IoAlgorithm::Read;
    if (runReads) {
        // The reader's own flow (its dialogs) opens what was given.
        std::unique_ptr<Algorithm> algorithm = registry.instantiateAlgorithm(runId);
        if (algorithm && !locations.isEmpty()) {
            const QFileInfo info(locations.first());
            Properties p(QStringLiteral("Config"));
            p.setParam(QStringLiteral("location"), info.exists() ? info.absoluteFilePath() : locations.first());
            algorithm->configure(&p);
        }
        window.runAlgorithm(std::move(algorithm));
    } else if (!locations.isEmpty()) {
        if (window.dicomReaderId().isEmpty())
            print(err, QStringLiteral("dravelin: no DICOM reader registered; is the DICOM plug-in in %1?").arg(folder));
        if (runDescriptor) {
            // The algorithm to run takes what is loaded: every series, with no browser between.
            for (const QString& location : locations) {
                const QFileInfo info(location);
                window.loadLocation(info.exists() ? info.absoluteFilePath() : location, window.dicomReaderId());
            }
        } else {
            // After the window is up: a folder of several series opens the browser on it.
            QTimer::singleShot(0, &window, [&window, locations] { window.openPaths(locations); });
        }
    }
    // A folder is opened through the reader's interface, which may show a window (the browser).
    const bool opensFolders = !runDescriptor && std::any_of(locations.begin(), locations.end(), [](const QString& l) {
        return QFileInfo(l).isDir() || QFileInfo(l).fileName().compare("DICOMDIR", Qt::CaseInsensitive) == 0;
    });

    if (runDescriptor && !runReads) {
        // Once the data is in, as a user would: select it, then pick the menu entry.
        auto start = [&window, runId] {
            DataList selection;
            const std::vector<Data*> images = window.dataModel()->getAll(Data::KindVolume);
            const std::vector<Data*> all = images.empty() ? window.dataModel()->getAll(Data::KindImage) : images;
            if (!all.empty())
                selection.add(all.front());
            const AlgorithmDescriptor* d = window.registry().algorithmDescriptor(runId);
            // One that takes more than an image set (a conversion of RT structures) gets everything loaded.
            if (d && !d->isCompatible(selection)) {
                DataList everything;
                for (Data* data : window.dataModel()->getAll())
                    if (!data->parentGroup())
                        everything.add(data);
                if (d->isCompatible(everything))
                    selection = everything;
            }
            window.setSelectedData(d && d->isCompatible(selection) ? selection : DataList());
            QAction* action = window.exportAction(runId) ? window.exportAction(runId) : window.algorithmAction(runId);
            if (action && action->isEnabled())
                action->trigger();
            else
                Log::log(4, "dravelin", runId + " does not accept the loaded data");
        };
        if (window.pendingLoads() > 0) {
            auto connection = std::make_shared<QMetaObject::Connection>();
            *connection = QObject::connect(&window, &MainWindowBase::loadsFinished, &window, [connection, start] {
                QObject::disconnect(*connection);
                start();
            });
        } else
            QTimer::singleShot(0, &window, start);
    }

    int status = 0;
    QTimer idle;
    if (parser.isSet(screenshot)) {
        // Saved once every load has ended and nothing is left to do: the progress rows are gone
        // and no events wait (the views repaint on the way there). With --run, the window the
        // algorithm opened is saved instead, once it has been shown and quiet for a moment (a
        // browser scan fills its tree from a worker).
        idle.setInterval(20);
        int quietTicks = 0;
        bool typed = false;
        QObject::connect(&idle, &QTimer::timeout, &window, [&] {
            // Idle twice in a row: docks that hid when the loads ended have been laid out.
            const bool busy = window.pendingLoads() > 0 || window.progressWidget()->taskCount() > 0;
            quietTicks = busy ? 0 : quietTicks + 1;
            if (quietTicks < 2)
                return;
            QWidget* target = &window;
            if (runDescriptor || opensFolders) {
                // A docked panel asked to compute: its Compute button, once.
                if (runDescriptor && quietTicks == 20 && parser.isSet(compute))
                    if (auto* button = window.findChild<QAbstractButton*>(QStringLiteral("computeButton"));
                        button && button->isVisible() && button->isEnabled())
                        button->click();
                target = nullptr;
                for (QWidget* top : QApplication::topLevelWidgets())
                    if (top != &window && top->isVisible() && top->isWindow() && !top->inherits("QMenu"))
                        target = top;
                // A panel in the main window's dock instead of a window of its own: the
                // main window is saved.
                if (!target && quietTicks < 75)
                    return;
                if (!target)
                    target = &window;
                // A window that scans folders (the DICOM editor) is shown on the first location.
                auto* path = target->findChild<QComboBox*>(QStringLiteral("pathEdit"));
                auto* scan = target->findChild<QAbstractButton*>(QStringLiteral("scanButton"));
                if (!typed && !runReads && !opensFolders && !locations.isEmpty() && path && scan) {
                    path->setEditText(QFileInfo(locations.first()).absoluteFilePath());
                    typed = true;
                    scan->click();
                }
                // Tree views show their first leaf three levels down (a series) current and
                // checked, as after a user's click, so the picture shows what a selection does.
                if (quietTicks == 50)
                    for (QTreeView* tree : target->findChildren<QTreeView*>()) {
                        QAbstractItemModel* model = tree->model();
                        const QModelIndex leaf =
                            model ? model->index(0, 0, model->index(0, 0, model->index(0, 0))) : QModelIndex();
                        if (!leaf.isValid() || !tree->isVisible())
                            continue;
                        tree->expandToDepth(1);
                        tree->setCurrentIndex(leaf);
                        model->setData(leaf, Qt::Checked, Qt::CheckStateRole);
                    }
                if (quietTicks < 125)
                    return;
            }
            idle.stop();
            QPointer<QWidget> shot(target);
            QTimer::singleShot(0, &window, [&, shot] {
                if (cursor)
                    window.displayWidget()->setCursor(*cursor);
                if (!preset.isEmpty() && !applyWindowPreset(window, preset)) {
                    print(err, QStringLiteral("dravelin: no window preset %1 for the image shown").arg(preset));
                    status = 1;
                }
                if (!shot || !shot->grab().save(shotPath, "PNG")) {
                    print(err, QStringLiteral("dravelin: cannot write %1").arg(shotPath));
                    status = 1;
                }
                if (auto* dialog = qobject_cast<QDialog*>(shot.data()))
                    dialog->reject();
                else if (shot && shot != &window)
                    shot->close();
                QTimer::singleShot(0, &window, [&] { QApplication::exit(status); });
            });
        });
        idle.start();
    }
    const int loopStatus = QApplication::exec();
    return status != 0 ? status : loopStatus;
}

}  // namespace Dravelin
