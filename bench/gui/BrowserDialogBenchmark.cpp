// The browser dialog stays responsive while it scans a large folder.
//
// usage: bench_browser_dialog [FOLDER]   (default: $HOME/bench-data/ds20k, 20,000 files; generated
//                                         when missing)
//
// In one QApplication (offscreen) it scans the folder through the whole dialog: tree, stats
// label, modality list, and the preview of the first series, made current as soon as it shows.
// A 10 ms timer measures the worst lateness of the event loop (the longest stall) and the time
// until the last patient shows in the tree. The baseline is the browser model alone scanning
// the same folder in the same run, with the same timer, in turn with the dialog (5 rounds by
// default, BENCH_ROUNDS=n); ratios are medians of the per-round ratios. Goals: worst stall under
// 50 ms in every round; the dialog's time to the last patient at most 1.2x the model's.
#include "browser/models/DicomBrowserModel.h"
#include "bench/BenchRounds.h"
#include "bench/gui/GeneratedFolder.h"
#include "bench/gui/StallProbe.h"
#include "browser/widgets/DicomBrowser.h"
#include "host/dicom/DatasetCache.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace Dravelin;

namespace {

// Since the process started: slow events and scan starts are printed on this clock.
QElapsedTimer& processClock()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock;
}

struct Run
{
    double lastPatientSeconds = 0;  // until the last patient row appeared
    double idleSeconds = 0;         // until the scan ended
    double worstStallMs = 0;
    double worstStallAtMs = 0;  // when it began
    double cpuSeconds = 0;      // the whole process, until the scan ended
    double guiCpuSeconds = 0;   // the GUI thread alone
    int patients = 0;
};

double cpuClock(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
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
    if (qEnvironmentVariableIntValue("BENCH_SLOW_EVENTS") > 0)
        std::printf("  scan starts at %.0f ms\n", processClock().nsecsElapsed() / 1e6);
    start();
    loop.exec();
    run.worstStallMs = probe.worstMs();
    run.worstStallAtMs = probe.worstAtMs();
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
    // On screen before the scan starts, as when a user presses Scan: the first paint of the
    // whole dialog is not the scan's.
    {
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
    }
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

// BENCH_SLOW_EVENTS=MS names each event the GUI thread took longer than MS to deliver (what a
// stall was made of).
class TimingApplication : public QApplication
{
public:
    using QApplication::QApplication;
    int thresholdMs = qEnvironmentVariableIntValue("BENCH_SLOW_EVENTS");

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (thresholdMs <= 0)
            return QApplication::notify(receiver, event);
        QElapsedTimer clock;
        clock.start();
        const int type = event->type();
        const bool result = QApplication::notify(receiver, event);
        const double ms = clock.nsecsElapsed() / 1e6;
        if (ms > thresholdMs)
            std::printf("  slow event at %.0f ms: %.1f ms, type %d, to %s \"%s\"\n",
                        processClock().nsecsElapsed() / 1e6 - ms, ms, type, receiver->metaObject()->className(),
                        qPrintable(receiver->objectName()));
        return result;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    processClock();
    TimingApplication app(argc, argv);
    // The dialog remembers folders and options: keep the user's settings out of it.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::homePath() + "/bench-data/ds20k";
    if (!ensureGeneratedFolder(folder, QString::fromLocal8Bit(argv[0]))) {
        std::fprintf(stderr, "bench_browser_dialog: cannot generate %s\n", qPrintable(folder));
        return 1;
    }
    // BENCH_DIALOG_ONLY=1 runs the dialog once and nothing else (for profiling).
    if (qEnvironmentVariableIsSet("BENCH_DIALOG_ONLY")) {
        const Run d = dialog(folder);
        std::printf("dialog %.3f s to the last patient, worst stall %.1f ms at %.0f ms\n", d.lastPatientSeconds,
                    d.worstStallMs, d.worstStallAtMs);
        return 0;
    }
    const int rounds = BenchRounds::count();
    BenchRounds::printLoad("before");
    modelOnly(folder);  // warms the page cache so that every run reads from memory
    std::vector<double> modelLast, dialogLast, modelGui, dialogGui, dialogStall, modelStall;
    int patients = 0;
    for (int i = 0; i < rounds; ++i) {
        const std::string load = BenchRounds::loadAverage();
        const Run m = modelOnly(folder);
        const Run d = dialog(folder);
        patients = d.patients;
        modelLast.push_back(m.lastPatientSeconds);
        dialogLast.push_back(d.lastPatientSeconds);
        modelGui.push_back(m.guiCpuSeconds);
        dialogGui.push_back(d.guiCpuSeconds);
        modelStall.push_back(m.worstStallMs);
        dialogStall.push_back(d.worstStallMs);
        std::printf("round %d (load %s)\n", i + 1, load.c_str());
        for (const auto& [name, r] :
             {std::pair<const char*, const Run&>{"model ", m}, std::pair<const char*, const Run&>{"dialog", d}})
            std::printf(
                "  %s: last patient %.3f s, idle %.3f s, stall %5.1f ms at %.0f ms, cpu %.3f s (gui thread %.3f s)\n",
                name, r.lastPatientSeconds, r.idleSeconds, r.worstStallMs, r.worstStallAtMs, r.cpuSeconds,
                r.guiCpuSeconds);
        std::printf("  ratio dialog/model: last patient %.2f, gui thread cpu %.2f\n",
                    d.lastPatientSeconds / m.lastPatientSeconds,
                    m.guiCpuSeconds > 0 ? d.guiCpuSeconds / m.guiCpuSeconds : 0);
    }
    const double worstStall = *std::max_element(dialogStall.begin(), dialogStall.end());
    std::printf("folder: %s (%d patients), %d rounds, medians of per-round ratios\n", qPrintable(folder), patients,
                rounds);
    std::printf("last patient shown: dialog %.3f s, model alone %.3f s (medians), ratio %.2f (goal <= 1.2)\n",
                BenchRounds::median(dialogLast), BenchRounds::median(modelLast),
                BenchRounds::medianRatio(dialogLast, modelLast));
    std::printf(
        "worst event-loop stall of the dialog: %.1f ms over all rounds, median %.1f ms (goal < 50 ms in every "
        "round); model alone: worst %.1f ms, median %.1f ms\n",
        worstStall, BenchRounds::median(dialogStall), *std::max_element(modelStall.begin(), modelStall.end()),
        BenchRounds::median(modelStall));
    std::printf("gui thread cpu: dialog %.3f s, model alone %.3f s (medians), ratio %.2f\n",
                BenchRounds::median(dialogGui), BenchRounds::median(modelGui),
                BenchRounds::medianRatio(dialogGui, modelGui));
    BenchRounds::printLoad("after");
    return 0;
}
