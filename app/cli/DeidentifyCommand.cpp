#include "app/cli/DeidentifyCommand.h"

#include "editor/ConfidentialityProfile.h"
#include "editor/DicomEditorConversion.h"
#include "editor/FolderInventory.h"
#include "host/core/Progress.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DeidentificationProfiles.h"
#include "host/dicom/Utils.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>

#include <atomic>
#include <csignal>
#include <mutex>
#include <optional>

namespace Dravelin::Cli {

namespace {

struct Options
{
    QString input;
    QString output;
    QString profile = QStringLiteral("basic");
    bool keepPrivate = false;
    bool inPlace = false;
    bool overwrite = false;
    QSet<QString> series;
};

// Set by SIGINT, SIGTERM and SIGHUP: the run stops after the files in hand, so that no
// temporary file is left behind.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int)
{
    g_interrupted = 1;
}

// "Converting Files... n/N" on one line of stderr, redrawn at most once per percent.
class ProgressLine : public Progress
{
public:
    void setRange(long long maximum) override { m_maximum = maximum; }
    void setText(const std::string& text) override { m_text = QString::fromStdString(text); }
    void setValue(long long value) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const long long percent = m_maximum > 0 ? value * 100 / m_maximum : 100;
        if (percent == m_lastPercent && value != m_maximum)
            return;
        m_lastPercent = percent;
        QTextStream err(stderr);
        err << '\r' << m_text << ' ' << value << '/' << m_maximum << Qt::flush;
    }
    bool wasCancelled() const override { return g_interrupted != 0; }
    void finish()
    {
        QTextStream err(stderr);
        err << '\n';
    }

private:
    std::mutex m_mutex;
    std::atomic<long long> m_maximum{0};
    long long m_lastPercent = -1;
    QString m_text;
};

int usage(const QString& problem = QString())
{
    QTextStream err(stderr);
    if (!problem.isEmpty())
        err << problem << '\n';
    err << "usage: dravelin-dicom deidentify INPUT OUTPUT [--profile basic|relaxed|FILE.xml] [--keep-private] "
           "[--series UID[,UID...]] [--overwrite] [--in-place]\n";
    return 2;
}

std::optional<Options> parse(const QStringList& args, QString* problem)
{
    Options o;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--keep-private")) {
            o.keepPrivate = true;
        } else if (a == QLatin1String("--in-place")) {
            o.inPlace = true;
        } else if (a == QLatin1String("--overwrite")) {
            o.overwrite = true;
        } else if (a == QLatin1String("--profile") || a == QLatin1String("--series")) {
            if (i + 1 >= args.size()) {
                *problem = a + " needs a value";
                return std::nullopt;
            }
            const QString value = args[++i];
            if (a == QLatin1String("--profile"))
                o.profile = value;
            else
                for (const QString& uid : value.split(',', Qt::SkipEmptyParts))
                    o.series.insert(uid.trimmed());
        } else if (a.startsWith(QLatin1String("--"))) {
            *problem = "Unknown option " + a;
            return std::nullopt;
        } else {
            positional << a;
        }
    }
    if (o.inPlace && positional.size() == 1)
        positional << positional.front();
    if (positional.size() != 2) {
        *problem = QStringLiteral("INPUT and OUTPUT are required");
        return std::nullopt;
    }
    o.input = positional[0];
    o.output = positional[1];
    return o;
}

std::optional<ConfidentialityProfile::File> profileFile(const QString& profile)
{
    if (profile == QLatin1String("basic"))
        return ConfidentialityProfile::load(ConfidentialityProfile::basicProfileName, QString());
    if (profile == QLatin1String("relaxed"))
        return ConfidentialityProfile::load(ConfidentialityProfile::relaxedProfileName, QString());
    auto file = ConfidentialityProfile::readFile(profile);
    if (file && file->name.isEmpty())
        file->name = QFileInfo(profile).completeBaseName();
    return file;
}

// Files of the input that the run will not write, each on one line of stderr with the reason.
// Returns {failures, left out}: DICOMDIRs are left out on purpose, everything else is a failure.
std::pair<int, int> reportUnread(const FolderInventory& inventory, const QSet<QString>& scanned)
{
    QTextStream err(stderr);
    int failures = 0;
    int leftOut = 0;
    for (const auto& problem : inventory.problems()) {
        err << "Skipped " << problem.path << ": " << problem.reason << '\n';
        ++failures;
    }
    for (const QString& file : inventory.files()) {
        if (scanned.contains(QDir::cleanPath(file)))
            continue;
        if (QFileInfo(file).fileName().compare(QLatin1String("DICOMDIR"), Qt::CaseInsensitive) == 0) {
            err << "Left out " << file << ": a DICOMDIR's record offsets would not survive de-identification\n";
            ++leftOut;
            continue;
        }
        const bool dicom = Dicom::Utils::hasDicomHeader(QFile::encodeName(file).toStdString());
        err << "Skipped " << file << ": " << (dicom ? "could not be read as DICOM" : "not a DICOM file") << '\n';
        ++failures;
    }
    return {failures, leftOut};
}

}  // namespace

int runDeidentifyCommand(const QStringList& args)
{
    QString problem;
    const auto options = parse(args, &problem);
    if (!options)
        return usage(problem);
    problem =
        DicomEditorConversion::folderProblem(options->input, options->output, options->inPlace, options->overwrite);
    if (!problem.isEmpty())
        return usage(problem);
    const auto profile = profileFile(options->profile);
    if (!profile)
        return usage("Cannot read profile " + options->profile + " (no tag action in it)");

    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, onInterrupt);
    const FolderInventory inventory(options->input);
    auto cache = std::make_shared<Dicom::DatasetCache>(64);
    Dicom::Scanner scanner(cache);
    scanner.scanDirectory(options->input, true, false, true);
    const auto patients = scanner.takePatients();

    std::vector<const Dicom::Series*> chosen;
    QSet<QString> found;
    QSet<QString> scanned;
    for (const auto& patient : patients)
        for (const Dicom::Study* study : patient->studies)
            for (const Dicom::Series* series : study->series) {
                for (const Dicom::Image* image : series->images)
                    if (image->location.isLocalFile())
                        scanned.insert(QDir::cleanPath(QString::fromStdString(image->location.localFilePath())));
                if (options->series.isEmpty() || options->series.contains(series->seriesInstanceUid)) {
                    chosen.push_back(series);
                    found.insert(series->seriesInstanceUid);
                }
            }
    for (const QString& uid : options->series)
        if (!found.contains(uid))
            return usage("Series not found: " + uid);
    const auto [unread, dicomdirs] = reportUnread(inventory, scanned);

    // The scan kept headers only; the conversion reads every file in full once, so a small
    // cache of its own is enough.
    DicomEditorConversion conversion(options->input, options->output, profile->table, options->keepPrivate,
                                     std::make_shared<Dicom::DatasetCache>(16));
    conversion.setProfileName(profile->name);
    ProgressLine progress;
    const auto summary = conversion.run(DicomEditorConversion::locationsOf(chosen), &progress);
    progress.finish();

    const int failed = summary.failed + unread;
    QTextStream out(stdout);
    out << summary.written << " files written to " << options->output << ", " << failed << " failed, "
        << QString::number(summary.seconds, 'f', 2) << " s\n";
    QTextStream err(stderr);
    if (summary.leftOut + dicomdirs > 0)
        err << summary.leftOut + dicomdirs << (summary.leftOut + dicomdirs == 1 ? " DICOMDIR file" : " DICOMDIR files")
            << " left out\n";
    if (summary.cancelled) {
        err << "Interrupted: the files not yet converted were not written\n";
        return 1;
    }
    if (failed > 0) {
        err << QCoreApplication::translate("DicomEditor", "Not all files could be saved. See log for details") << '\n';
        return 1;
    }
    return 0;
}

}  // namespace Dravelin::Cli
