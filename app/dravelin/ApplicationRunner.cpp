#include "app/dravelin/ApplicationRunner.h"

#include "host/app/FactoryRegistry.h"
#include "host/core/Log.h"
#include "host/plugin/PluginLoader.h"
#include "host/ui/MainWindowBase.h"
#include "host/ui/ProgressWidget.h"
#include "host/ui/SettingsDialog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>

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
    const QCommandLineOption pluginDir(QStringLiteral("plugin-dir"),
                                       QStringLiteral("Load the plug-ins of DIR (default: %1).").arg(defaultPluginDir()),
                                       QStringLiteral("DIR"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Once the locations are loaded and the window is idle, save the "
                                                       "window as a PNG file and exit."),
                                        QStringLiteral("FILE.png"));
    const QCommandLineOption list(QStringLiteral("list-plugins"),
                                  QStringLiteral("Print the loaded plug-ins and what they register, then exit."));
    parser.addOptions({pluginDir, screenshot, list});
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
    if (!locations.isEmpty()) {
        const QString reader = window.dicomReaderId();
        if (reader.isEmpty())
            print(err, QStringLiteral("dravelin: no DICOM reader registered; is the DICOM plug-in in %1?").arg(folder));
        for (const QString& location : locations) {
            const QFileInfo info(location);
            window.loadLocation(info.exists() ? info.absoluteFilePath() : location, reader);
        }
    }

    int status = 0;
    if (parser.isSet(screenshot)) {
        // Saved once every load has ended and nothing is left to do: the progress rows are gone
        // and no events wait (the views repaint on the way there).
        QTimer idle;
        idle.setInterval(20);
        QObject::connect(&idle, &QTimer::timeout, &window, [&] {
            if (window.pendingLoads() > 0 || window.progressWidget()->taskCount() > 0)
                return;
            idle.stop();
            QTimer::singleShot(0, &window, [&] {
                if (!window.grab().save(shotPath, "PNG")) {
                    print(err, QStringLiteral("dravelin: cannot write %1").arg(shotPath));
                    status = 1;
                }
                QApplication::exit(status);
            });
        });
        idle.start();
    }
    const int loopStatus = QApplication::exec();
    return status != 0 ? status : loopStatus;
}

}  // namespace Dravelin
