// The GUI stays responsive during an asynchronous folder scan.
//
// usage: bench_gui_scan [FOLDER]   (default: /root/bench-data/ds20k; generated when missing)
//
// In one QApplication (offscreen) with the filter model and a QTreeView attached, it runs
// scanDirectoryAsync and measures the worst lateness of a 10 ms timer (the longest stall of
// the event loop) and the time until the model is idle, against scanDirectoryBlocking of the
// same folder in the same run. Goals: no stall over 50 ms; time to idle within 1.5x of the
// blocking scan (5 rounds in turn by default, BENCH_ROUNDS=n; medians of per-round ratios).
// A control run (the scanner alone on a thread, the event loop doing nothing
// but the timer) shows the lateness the machine itself causes.
#include "bench/BenchRounds.h"
#include "bench/gui/GeneratedFolder.h"
#include "bench/gui/StallProbe.h"
#include "browser/models/DicomBrowserFilterModel.h"
#include "browser/models/DicomBrowserModel.h"
#include "scanning/Scanner.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

using namespace Dravelin;

namespace {

struct Run
{
    double seconds = 0;
    double worstStallMs = 0;
    int stallsOver50 = 0;
    int series = 0;
};

// A browser as the dialog builds it: source model, filter model, sorted tree view.
struct Browser
{
    DicomBrowserModel model{nullptr};
    DicomBrowserFilterModel filter;
    QTreeView view;

    Browser()
    {
        filter.setSourceModel(&model);
        filter.setDynamicSortFilter(true);
        filter.setSortRole(DicomBrowserModel::SortRole);
        filter.setFilterCaseSensitivity(Qt::CaseInsensitive);
        view.setModel(&filter);
        view.setSortingEnabled(true);
        view.sortByColumn(0, Qt::AscendingOrder);
        view.resize(800, 600);
        view.show();
        // The dialog expands new patients and studies.
        QObject::connect(&filter, &QAbstractItemModel::rowsInserted, &view,
                         [this](const QModelIndex& parent, int first, int last) {
                             for (int r = first; r <= last; ++r) {
                                 const QModelIndex i = filter.index(r, 0, parent);
                                 if (i.data(DicomBrowserModel::PatientRole).isValid() ||
                                     i.data(DicomBrowserModel::StudyRole).isValid())
                                     view.expand(i);
                             }
                         });
    }

    int seriesCount() const
    {
        int n = 0;
        for (const auto* p : model.patients())
            for (const auto* s : p->studies)
                n += static_cast<int>(s->series.size());
        return n;
    }
};

Run blocking(const QString& folder)
{
    Browser browser;
    QElapsedTimer clock;
    clock.start();
    browser.model.scanDirectoryBlocking(folder, true, false, true);
    QCoreApplication::processEvents();  // let the view catch up, as the event loop would
    Run run;
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.series = browser.seriesCount();
    return run;
}

// Measures how late a 10 ms timer fires while `start` runs work that ends with `done`.
template <typename Start>
Run withTicker(Start start, QEventLoop& loop)
{
    Run run;
    QElapsedTimer clock;
    StallProbe probe;
    clock.start();
    probe.start();
    start();
    loop.exec();
    run.worstStallMs = probe.worstMs();
    run.stallsOver50 = probe.stallsOver50();
    run.seconds = clock.nsecsElapsed() / 1e9;
    return run;
}

Run async(const QString& folder)
{
    Browser browser;
    QEventLoop loop;
    QObject::connect(&browser.model, &DicomBrowserModel::isScanningChanged, &loop, [&](bool scanning) {
        if (!scanning)
            loop.quit();
    });
    Run run = withTicker([&] { browser.model.scanDirectoryAsync(folder, true, false, true); }, loop);
    run.series = browser.seriesCount();
    return run;
}

// The floor of the machine: the same scan on a plain thread, the event loop only ticking.
Run control(const QString& folder)
{
    QEventLoop loop;
    std::future<void> task;
    Run run = withTicker(
        [&] {
            task = std::async(std::launch::async, [&] {
                Dicom::Scanner scanner(nullptr);
                scanner.scanDirectory(folder, true, false, true);
                QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
            });
        },
        loop);
    task.wait();
    return run;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::homePath() + "/bench-data/ds20k";
    if (!ensureGeneratedFolder(folder, QString::fromLocal8Bit(argv[0]))) {
        std::fprintf(stderr, "cannot generate %s\n", qPrintable(folder));
        return 1;
    }
    // BENCH_ASYNC_ONLY=1 leaves out the blocking scans (for profiling the event loop).
    if (qEnvironmentVariableIsSet("BENCH_ASYNC_ONLY")) {
        const Run a = async(folder);
        std::printf("async %.3f s to idle, worst timer lateness %.1f ms\n", a.seconds, a.worstStallMs);
        return 0;
    }
    const int rounds = BenchRounds::count();
    BenchRounds::printLoad("before");
    std::vector<double> blockingSeconds, asyncSeconds, asyncStalls, controlStalls;
    int series = 0;
    blocking(folder);  // warms the page cache so that both scans read from memory
    for (int i = 0; i < rounds; ++i) {
        const std::string load = BenchRounds::loadAverage();
        const Run b = blocking(folder);
        const Run a = async(folder);
        const Run c = control(folder);
        series = a.series;
        blockingSeconds.push_back(b.seconds);
        asyncSeconds.push_back(a.seconds);
        asyncStalls.push_back(a.worstStallMs);
        controlStalls.push_back(c.worstStallMs);
        std::printf(
            "round %d (load %s): blocking %.3f s, async %.3f s to idle (ratio %.2f), worst timer lateness "
            "%.1f ms, %d stalls > 50 ms; control %.1f ms\n",
            i + 1, load.c_str(), b.seconds, a.seconds, a.seconds / b.seconds, a.worstStallMs, a.stallsOver50,
            c.worstStallMs);
    }
    std::printf("folder: %s (%d series), %d rounds, medians of per-round ratios\n", qPrintable(folder), series, rounds);
    std::printf("async / blocking to idle: %.2f (medians %.3f s / %.3f s; goal <= 1.5)\n",
                BenchRounds::medianRatio(asyncSeconds, blockingSeconds), BenchRounds::median(asyncSeconds),
                BenchRounds::median(blockingSeconds));
    std::printf(
        "worst stall %.1f ms over all rounds, median %.1f ms (goal <= 50 ms); the machine alone (scan on a "
        "plain thread, idle event loop): worst %.1f ms, median %.1f ms\n",
        *std::max_element(asyncStalls.begin(), asyncStalls.end()), BenchRounds::median(asyncStalls),
        *std::max_element(controlStalls.begin(), controlStalls.end()), BenchRounds::median(controlStalls));
    BenchRounds::printLoad("after");
    return 0;
}
