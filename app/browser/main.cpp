// dravelin-browser: the DICOM browser dialog on its own, without the rest of the application.
// Opens it on a folder, a DICOMDIR, a PACS location or a DICOMweb URL, scans it and prints the
// chosen series' location string on Ok. With --screenshot it saves the dialog once the scan
// has finished and exits.
#include "browser/models/DicomBrowserModel.h"
#include "browser/widgets/DicomBrowser.h"
#include "host/app/GlobalSettings.h"
#include "host/core/FileNameCodec.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/oflog/oflog.h>

#include <cstdio>
#include <memory>

using namespace Dravelin;

namespace {

int fail(const QString& message)
{
    QTextStream(stderr) << "dravelin-browser: " << message << '\n';
    return 2;
}

// Starts the scan of `location` on the tab it belongs to; false when it names no source.
bool startScan(DicomBrowser& browser, const QString& location, QString* error)
{
    if (location.startsWith(QLatin1String("pacs://"))) {
        const DicomPacsConfiguration config = DicomPacsConfiguration::fromUri(Filesystem::Url(location.toStdString()));
        if (!config.isValid()) {
            *error = "not a usable PACS location: " + location;
            return false;
        }
        // The tab shows the configured server of that location or the location's own fields.
        browser.fixTabWidget(false, DicomBrowser::PacsTab, location.toStdString());
        browser.connectToPacs();
        return true;
    }
    if (location.startsWith(QLatin1String("http://")) || location.startsWith(QLatin1String("https://"))) {
        browser.fixTabWidget(false, DicomBrowser::DicomWebTab, std::string());
        browser.findChild<QComboBox*>("dicomWebUrlEdit")->setEditText(location);
        browser.scanWeb();
        return true;
    }
    const QFileInfo info(location);
    const std::string path = info.absoluteFilePath().toStdString();
    if (info.isDir()) {
        browser.fixTabWidget(false, DicomBrowser::DirectoryTab, path);
        browser.scan();
        return true;
    }
    if (info.isFile()) {
        browser.fixTabWidget(false, DicomBrowser::DicomDirTab, path);
        browser.scanDicomDir();
        return true;
    }
    *error = "no such folder or file: " + location;
    return false;
}

// Makes the first series current, so that the picture shows its properties and preview. A
// PACS study shows its series once its placeholder row is current: that one is chosen first.
// True when a series is current.
bool showFirstSeries(DicomBrowser& browser)
{
    auto* view = browser.findChild<QTreeView*>("view");
    const QAbstractItemModel* model = view->model();
    QModelIndex placeholder;
    for (int p = 0; p < model->rowCount(); ++p) {
        const QModelIndex patient = model->index(p, 0);
        for (int s = 0; s < model->rowCount(patient); ++s) {
            const QModelIndex study = model->index(s, 0, patient);
            for (int r = 0; r < model->rowCount(study); ++r) {
                const QModelIndex row = model->index(r, 0, study);
                if (row.data(DicomBrowserModel::SeriesRole).isValid()) {
                    view->setCurrentIndex(row);
                    return true;
                }
                if (!placeholder.isValid() && row.data(DicomBrowserModel::PacsSeriesProxyRole).isValid())
                    placeholder = row;
            }
        }
    }
    if (placeholder.isValid() && view->currentIndex() != placeholder)
        view->setCurrentIndex(placeholder);
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    Dravelin::FileNameCodec::install();
    // The arguments are read before the window system is asked for, so that --help and
    // argument errors work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Opens the DICOM browser on PATH (a folder or a DICOMDIR file) or URL (pacs://HOST:PORT/AET or a DICOMweb "
        "root such as http://host/dicom-web; a server that asks for a login gets it from the desktop keyring or "
        "the login dialog), scans it and prints the "
        "location string of the chosen series on Ok.\nExit status: 0 Ok, 1 cancelled, 2 unusable arguments.");
    const QCommandLineOption help({"h", "help"}, "Shows this help.");
    const QCommandLineOption version("version", "Shows the version.");
    const QCommandLineOption screenshot(
        "screenshot", "Saves the dialog as FILE.png once the scan has finished, then exits (no display needed).",
        "FILE.png");
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(screenshot);
    parser.addPositionalArgument("PATH|URL", "The source to scan (optional).");
    if (!parser.parse(arguments))
        return fail(parser.errorText() + " (see --help)");
    if (parser.isSet(help)) {
        // Written out: QCommandLineParser::helpText() needs an application object.
        std::printf(
            "usage: dravelin-browser [PATH|URL] [--screenshot FILE.png]\n\n%s\n\n"
            "  PATH|URL               the source to scan (optional)\n"
            "  --screenshot FILE.png  saves the dialog once the scan has finished, then exits (no display needed)\n"
            "  -h, --help             shows this help\n"
            "  --version              shows the version\n",
            qPrintable(parser.applicationDescription()));
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("dravelin-browser %s\n", DRAVELIN_VERSION);
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return fail("one source at most (see --help)");
    if (parser.isSet(screenshot) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
             qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return fail("no display to show the dialog on (set DISPLAY, or use --screenshot FILE.png)");

    QApplication app(argc, argv);
    GlobalSettings::useApplicationSettingsFile();
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);

    auto cache = std::make_shared<Dicom::DatasetCache>(2048);

    DicomBrowser browser(cache, nullptr);
    if (!positional.isEmpty()) {
        QString error;
        if (!startScan(browser, positional.front(), &error))
            return fail(error);
    }

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        browser.show();
        int status = 0;
        // Saves once the scan has stopped and the view had a moment to lay out its rows.
        QTimer poll;
        int attempts = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (browser.browserModel()->isScanning())
                return;
            if (!showFirstSeries(browser) && ++attempts < 50)
                return;
            poll.stop();
            QTimer::singleShot(1500, [&] {
                if (!browser.grab().save(file, "PNG"))
                    status = fail("cannot write " + file);
                app.quit();
            });
        });
        poll.start(100);
        app.exec();
        return status;
    }

    if (browser.exec() != QDialog::Accepted)
        return 1;
    std::printf("%s\n", browser.selectedSeriesUri().c_str());
    return 0;
}
