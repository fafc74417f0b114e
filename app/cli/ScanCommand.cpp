#include "app/cli/ScanCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/ModelTextPrinter.h"
#include "app/cli/QuietLog.h"
#include "app/cli/SeriesTable.h"
#include "app/cli/TextFormat.h"
#include "app/cli/TreeOutput.h"
#include "host/dicom/DatasetCache.h"
#include "browser/models/DicomBrowserFilterModel.h"
#include "browser/models/DicomBrowserModel.h"
#include "scanning/SkippedFiles.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/ScannerQt.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTextStream>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/oflog/oflog.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cstdio>
#include <optional>
#include <tuple>
#include <vector>

namespace Dravelin::Cli {

namespace {

using namespace Dravelin::Dicom;

// Progress on stderr: one rewritten line on a terminal, throttled plain lines otherwise.
class ProgressPrinter
{
public:
    explicit ProgressPrinter(bool terminal) : m_terminal(terminal) { m_clock.start(); }

    void setRange(int maximum)
    {
        m_maximum = maximum;
        print(false);
    }

    void setValue(int value)
    {
        m_value = value;
        print(false);
    }

    void setText(const QString& text)
    {
        m_text = text.toStdString();
        print(true);
    }

    void finish()
    {
        print(true);
        if (m_terminal && m_printed)
            std::fputc('\n', stderr);
    }

private:
    void print(bool force)
    {
        const qint64 now = m_clock.elapsed();
        const qint64 interval = m_terminal ? 100 : 1000;
        if (m_text.empty() || (!force && m_printed && now - m_lastPrint < interval))
            return;
        if (m_printed && m_value == m_printedValue && m_maximum == m_printedMaximum && m_text == m_printedText)
            return;
        std::fprintf(stderr, m_terminal ? "\r%s %d/%d\033[K" : "%s %d/%d\n", m_text.c_str(), m_value, m_maximum);
        std::fflush(stderr);
        m_lastPrint = now;
        m_printed = true;
        m_printedValue = m_value;
        m_printedMaximum = m_maximum;
        m_printedText = m_text;
    }

    const bool m_terminal;
    QElapsedTimer m_clock;
    std::string m_text;
    int m_value = 0;
    int m_maximum = 0;
    bool m_printed = false;
    qint64 m_lastPrint = 0;
    int m_printedValue = -1;
    int m_printedMaximum = -1;
    std::string m_printedText;
};

struct Options
{
    QString path;
    bool dicomdirOnly = false;
    bool recursive = true;
    bool headerCheck = true;
    std::optional<int> threads;
    bool json = false;
    bool images = true;
    bool exactDimensions = false;
    bool location = false;
    QStringList select;
    QString filter;
    std::vector<QString> modalities;
    std::optional<QDate> from;
    std::optional<QDate> to;
    bool originalOnly = false;
    bool hideInvalid = false;
    bool tree = false;
    bool verbose = false;
};

void declareOptions(CommandLine& cl)
{
    cl.addPositional("PATH", "A folder, or a DICOMDIR file.");
    cl.addFlag("dicomdir-only", "In a folder, read only the DICOMDIR files.");
    cl.addFlag("no-recursive", "Leave subfolders out.");
    cl.addFlag("no-header-check", "Try to read files without the DICM header too.");
    cl.addValue("threads", "N", "Threads that list folders, read files and write --json.");
    cl.addFlag("tree", "Print the whole tree as the browser shows it (every row and its properties).");
    cl.addFlag("json", "Print one JSON document {\"patients\": [...]} with every record field.");
    cl.addFlag("verbose", "List the files left out, with the reason.");
    cl.addFlag("no-images", "Leave the images out (--tree, --json).");
    cl.addFlag("exact-dimensions", "Ask the loader for the exact geometry of every series.");
    cl.addFlag("location", "Print the location string of every shown series.");
    cl.addValue("select", "UID[,UID...]", "Check these series and print their joined location string.");
    cl.addValue("filter", "TEXT", "Show the rows whose text contains TEXT.");
    cl.addValue("modality", "M[,M...]", "Show the series of these modalities.");
    cl.addValue("from", "yyyy-MM-dd", "Show the studies from this date on.");
    cl.addValue("to", "yyyy-MM-dd", "Show the studies up to this date.");
    cl.addFlag("original-only", "Hide derived series.");
    cl.addFlag("hide-invalid", "Hide series whose geometry is invalid.");
}

std::optional<Options> parseArguments(CommandLine& cl)
{
    Options o;
    o.path = cl.positionals().front();
    o.dicomdirOnly = cl.isSet("dicomdir-only");
    o.recursive = !cl.isSet("no-recursive");
    o.headerCheck = !cl.isSet("no-header-check");
    o.threads = cl.number("threads", 1, 1024);
    o.json = cl.isSet("json");
    o.images = !cl.isSet("no-images");
    o.exactDimensions = cl.isSet("exact-dimensions");
    o.location = cl.isSet("location");
    o.select = cl.list("select");
    o.filter = cl.value("filter");
    for (const QString& modality : cl.list("modality"))
        o.modalities.push_back(modality);
    o.from = cl.date("from");
    o.to = cl.date("to");
    o.originalOnly = cl.isSet("original-only");
    o.hideInvalid = cl.isSet("hide-invalid");
    o.tree = cl.isSet("tree");
    o.verbose = cl.isSet("verbose");
    if (o.json && (o.location || !o.select.isEmpty() || o.tree))
        cl.reject("--json prints one document; it cannot be combined with --location, --select or --tree");
    if (cl.failed())
        return std::nullopt;
    return o;
}

// One "  PATH: reason" line per skipped file, in path order.
QStringList skippedList(const SkippedFiles& skipped)
{
    QStringList lines;
    for (const auto& [path, reason] : skipped.files())
        lines << "  " + TextFormat::printable(path) + ": " + SkippedFiles::reasonText(reason);
    return lines;
}

// Runs the model's asynchronous scan and waits in an event loop, printing its progress.
// Returns why PATH could not be read as a DICOMDIR, or nothing.
QString scan(DicomBrowserModel& model, const Options& options, const QFileInfo& info, int& files, SkippedFiles& skipped)
{
    ProgressPrinter progress(isatty(fileno(stderr)) != 0);
    QObject::connect(&model, &DicomBrowserModel::scanProgressRangeChanged,
                     [&](int, int maximum) { progress.setRange(maximum); });
    QObject::connect(&model, &DicomBrowserModel::scanProgressValueChanged, [&](int v) { progress.setValue(v); });
    QObject::connect(&model, &DicomBrowserModel::scanProgressTextChanged,
                     [&](const QString& text) { progress.setText(text); });
    const QString path = info.absoluteFilePath();
    const std::optional<int> threads = options.threads;
    model.setUpdateSeriesDimensionsAfterScan(options.exactDimensions);
    QEventLoop loop;
    QObject::connect(&model, &DicomBrowserModel::isScanningChanged, &loop, [&](bool scanning) {
        if (!scanning)
            loop.quit();
    });
    QString failure;
    if (info.isDir()) {
        // Read from the scanner itself: the model's last range may be the dimension update's.
        std::atomic<int> fileCount{0};
        model.scanAsync(nullptr, [=, &options, &fileCount, &skipped](ScannerQt& scanner) {
            QObject::connect(&scanner, &ScannerQt::progressRangeChanged,
                             [&fileCount](int, int max) { fileCount = max; });
            if (threads)
                scanner.setNumberOfThreads(*threads);
            scanner.setSkippedFileHandler(
                [&skipped](const QString& file, Scanner::SkipReason reason) { skipped.add(file, reason); });
            scanner.scanDirectory(path, options.recursive, options.dicomdirOnly, options.headerCheck);
        });
        if (model.isScanning())
            loop.exec();
        files = fileCount;
    } else {
        // The reader logs why a DICOMDIR cannot be read; that reason becomes the one error line.
        QuietLog log;
        model.scanDicomDirAsync(path);
        if (model.isScanning())
            loop.exec();
        files = 1;
        if (model.patients().empty())
            failure = log.firstMessage(4);
        if (failure.isEmpty())
            log.printHeld("dravelin-dicom scan");
    }
    progress.finish();
    return failure;
}

void configureFilter(DicomBrowserFilterModel& filter, DicomBrowserModel& model, const Options& options)
{
    filter.setFilterCaseSensitivity(Qt::CaseInsensitive);
    filter.setFilterFixedString(options.filter);
    filter.setModalitiesFilter(options.modalities);
    if (options.from || options.to)
        filter.setDateFilter(
            std::make_tuple(options.from.value_or(QDate(1, 1, 1)), options.to.value_or(QDate(9999, 12, 31))));
    filter.setOriginalOnly(options.originalOnly);
    filter.setImagesVisible(options.images);
    filter.setFilterInvalidSeries(options.hideInvalid);
    sortLikeTheBrowser(filter, model);
}

QStringList checkSeries(DicomBrowserFilterModel& filter, const std::vector<ShownSeries>& shown, const QStringList& uids)
{
    QStringList missing;
    for (const QString& uid : uids) {
        bool found = false;
        for (const ShownSeries& row : shown) {
            if (row.series->seriesInstanceUid == uid) {
                filter.setData(row.index, Qt::Checked, Qt::CheckStateRole);
                found = true;
            }
        }
        if (!found)
            missing << uid;
    }
    return missing;
}

}  // namespace

int runScanCommand(const QStringList& args)
{
    CommandLine cl("scan",
                   "Scans a folder (or a DICOMDIR file) through the browser's model and prints one line per\n"
                   "shown series, a summary line and the files left out. Progress goes to stderr.");
    declareOptions(cl);
    if (const auto status = cl.parse(args))
        return *status;
    const std::optional<Options> options = parseArguments(cl);
    if (!options)
        return cl.usageError();
    const QFileInfo info(options->path);
    const bool readable = info.exists() && info.isReadable() && (!info.isDir() || info.isExecutable());
    if (!readable)
        return cl.fail(2, options->path + (info.exists() ? ": cannot be read" : ": no such file or folder"));
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);

    // Deliberately never destroyed: the process ends right after the output, and tearing down
    // a tree of 100,000 records and their cached datasets would only delay the exit.
    auto* kept = new DicomBrowserModel(std::make_shared<Dicom::DatasetCache>(0));
    DicomBrowserModel& model = *kept;
    QElapsedTimer timer;
    timer.start();
    int files = 0;
    SkippedFiles skipped;
    const QString failure = scan(model, *options, info, files, skipped);
    if (!failure.isEmpty())
        return cl.fail(2, options->path + ": " + failure);
    const double seconds = timer.nsecsElapsed() / 1e9;

    DicomBrowserFilterModel filter;
    configureFilter(filter, model, *options);
    const QString summary =
        summaryLine(countShown(filter), QString::number(files) + (files == 1 ? " file" : " files"), seconds);
    QStringList notes;
    if (!skipped.summary().isEmpty())
        notes << skipped.summary();
    if (options->verbose)
        notes << skippedList(skipped);
    if (options->json) {
        printJson(filter, options->images, options->threads.value_or(Scanner::defaultNumberOfThreads()));
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", (QStringList(summary) + notes).join('\n').toUtf8().constData());
        return 0;
    }

    const std::vector<ShownSeries> shown = shownSeries(filter);
    const QStringList missing = checkSeries(filter, shown, options->select);
    for (const QString& uid : missing)
        cl.fail(0, "no shown series " + uid);

    QTextStream out(stdout);
    if (options->tree)
        printModel(out, filter, options->images);
    else
        printSeriesTable(out, filter, outputWidth(), !options->select.isEmpty());
    out << summary << '\n';
    for (const QString& note : notes)
        out << note << '\n';
    if (options->location) {
        for (const ShownSeries& row : shown)
            out << row.series->seriesInstanceUid << ' '
                << QString::fromStdString(DicomBrowserModel::retrieveLocationString({row.series}, options->headerCheck))
                << '\n';
    }
    int status = 0;
    if (!options->select.isEmpty()) {
        const QList<Series*> selected = filter.selectedSeries();
        const std::string location = DicomBrowserModel::retrieveLocationString(
            std::vector<Series*>(selected.begin(), selected.end()), options->headerCheck);
        out << QString::fromStdString(location) << '\n';
        if (!missing.isEmpty())
            status = 1;
    }
    out.flush();
    return status;
}

}  // namespace Dravelin::Cli
