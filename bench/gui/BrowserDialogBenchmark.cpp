// The browser dialog stays responsive while it scans a large folder.
//
// usage: bench_browser_dialog [FOLDER]   (default: $HOME/bench-data/ds20k, 20,000 files; generated
//                                         when missing)
//
// In one QApplication (offscreen) it scans the folder through the whole dialog: tree, stats
// label, modality list, and the preview of the first series, made current as soon as it shows.
// A 10 ms timer measures the worst lateness of the event loop (the longest stall) and the time
// until the last patient shows in the tree. The baseline is the browser model alone scanning
// the same folder in the same run, with the same timer. Goals: worst stall under 50 ms; the
// dialog's time to the last patient at most 1.2x the model's.
#include "browser/models/DicomBrowserModel.h"
#include "bench/gui/StallProbe.h"
#include "browser/widgets/DicomBrowser.h"
#include "host/dicom/DatasetCache.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Dravelin;

namespace {

struct Run
{
    double lastPatientSeconds = 0;  // until the last patient row appeared
    double idleSeconds = 0;         // until the scan ended
    double worstStallMs = 0;
    double cpuSeconds = 0;     // the whole process, until the scan ended
    double guiCpuSeconds = 0;  // the GUI thread alone
    int patients = 0;
};

double cpuClock(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// The machine's load as `uptime` states it: the numbers are only comparable under like load.
void printLoad(const char* when)
{
    QProcess uptime;
    uptime.start(QStringLiteral("uptime"), QStringList());
    uptime.waitForFinished(5000);
    std::printf("load %s: %s", when, uptime.readAllStandardOutput().constData());
}

// Runs `start`, which must end the loop when the scan is over, and measures how late a 10 ms
// timer fires meanwhile and when `model` got its last top-level row.
Run measure(DicomBrowserModel& model, QEventLoop& loop, const std::function<void()>& start)
{
    Run run;
    QElapsedTimer clock;
    StallProbe probe;
    const auto connection =
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&](const QModelIndex& parent, int, int) {
            if (!parent.isValid())
                run.lastPatientSeconds = clock.nsecsElapsed() / 1e9;
        });
    const double cpu0 = cpuClock(CLOCK_PROCESS_CPUTIME_ID);
    const double gui0 = cpuClock(CLOCK_THREAD_CPUTIME_ID);
    clock.start();
    probe.start();
    start();
    loop.exec();
    run.worstStallMs = probe.worstMs();
    run.idleSeconds = clock.nsecsElapsed() / 1e9;
    run.cpuSeconds = cpuClock(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    run.guiCpuSeconds = cpuClock(CLOCK_THREAD_CPUTIME_ID) - gui0;
    QObject::disconnect(connection);
    run.patients = model.rowCount();
    return run;
}

Run modelOnly(const QString& folder)
{
    DicomBrowserModel model(std::make_shared<Dicom::DatasetCache>(2048));
    QEventLoop loop;
    QObject::connect(&model, &DicomBrowserModel::isScanningChanged, &loop, [&](bool scanning) {
        if (!scanning)
            loop.quit();
    });
    return measure(model, loop, [&] { model.scanDirectoryAsync(folder, true, false, true); });
}

Run dialog(const QString& folder)
{
    DicomBrowser browser(std::make_shared<Dicom::DatasetCache>(2048));
    browser.resize(1242, 779);
    browser.show();
    auto* view = browser.findChild<QTreeView*>("view");
    // The first series becomes current as soon as it shows, so the preview and the Info tab
    // work during the scan as they would for a user who clicks early.
    QObject::connect(view->model(), &QAbstractItemModel::rowsInserted, view, [view](const QModelIndex& parent) {
        if (view->currentIndex().isValid() || !parent.isValid())
            return;
        const QModelIndex first = view->model()->index(0, 0, parent);
        if (first.data(DicomBrowserModel::SeriesRole).isValid())
            view->setCurrentIndex(first);
    });
    QEventLoop loop;
    QObject::connect(browser.browserModel(), &DicomBrowserModel::isScanningChanged, &loop, [&](bool scanning) {
        if (!scanning)
            loop.quit();
    });
    browser.findChild<QComboBox*>("pathEdit")->setEditText(folder);
    return measure(*browser.browserModel(), loop, [&] { browser.scan(); });
}

bool ensureData(const QString& folder, const QString& self)
{
    if (QFileInfo(folder).isDir())
        return true;
    const QString generator = QFileInfo(self).absolutePath() + "/../dravelin-gen-data";
    std::printf("generating %s ...\n", qPrintable(folder));
    return QProcess::execute(generator, {"folder", folder, "--patients", "10", "--studies", "2", "--series", "10",
                                         "--images", "100", "--size", "128"}) == 0;
}

Run best(const std::vector<Run>& runs)
{
    return *std::min_element(runs.begin(), runs.end(),
                             [](const Run& a, const Run& b) { return a.lastPatientSeconds < b.lastPatientSeconds; });
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The dialog remembers folders and options: keep the user's settings out of it.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::homePath() + "/bench-data/ds20k";
    if (!ensureData(folder, QString::fromLocal8Bit(argv[0]))) {
        std::fprintf(stderr, "bench_browser_dialog: cannot generate %s\n", qPrintable(folder));
        return 1;
    }
    // BENCH_DIALOG_ONLY=1 runs the dialog once and nothing else (for profiling).
    if (qEnvironmentVariableIsSet("BENCH_DIALOG_ONLY")) {
        const Run d = dialog(folder);
        std::printf("dialog %.3f s to the last patient, worst stall %.1f ms\n", d.lastPatientSeconds, d.worstStallMs);
        return 0;
    }
    printLoad("before");
    modelOnly(folder);  // warms the page cache so that every run reads from memory
    const int rounds = 3;
    std::vector<Run> models, dialogs;
    for (int i = 0; i < rounds; ++i) {
        models.push_back(modelOnly(folder));
        dialogs.push_back(dialog(folder));
        for (const auto& [name, r] : {std::pair<const char*, const Run&>{"model ", models.back()},
                                      std::pair<const char*, const Run&>{"dialog", dialogs.back()}})
            std::printf(
                "round %d %s: last patient %.3f s, idle %.3f s, stall %5.1f ms, cpu %.3f s (gui thread "
                "%.3f s)\n",
                i + 1, name, r.lastPatientSeconds, r.idleSeconds, r.worstStallMs, r.cpuSeconds, r.guiCpuSeconds);
    }
    const Run m = best(models);
    const Run d = best(dialogs);
    double worstStall = 0;
    for (const Run& r : dialogs)
        worstStall = std::max(worstStall, r.worstStallMs);
    double modelStall = 0;
    for (const Run& r : models)
        modelStall = std::max(modelStall, r.worstStallMs);
    std::printf("folder: %s (%d patients)\n", qPrintable(folder), d.patients);
    std::printf("last patient shown: dialog %.3f s, model alone %.3f s, ratio %.2f (goal <= 1.2)\n",
                d.lastPatientSeconds, m.lastPatientSeconds, d.lastPatientSeconds / m.lastPatientSeconds);
    std::printf("worst event-loop stall of the dialog %.1f ms (goal < 50 ms); model alone %.1f ms\n", worstStall,
                modelStall);
    std::printf("gui thread cpu (best runs): dialog %.3f s, model alone %.3f s\n", d.guiCpuSeconds, m.guiCpuSeconds);
    printLoad("after");
    return 0;
}
