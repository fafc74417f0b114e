#include "app/cli/DeidentifyCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/QuietLog.h"
#include "editor/ConfidentialityProfile.h"
#include "editor/DicomEditorConversion.h"
#include "editor/FolderInventory.h"
#include "host/core/FileNameCodec.h"
#include "host/core/Progress.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/StructureCheck.h"
#include "host/dicom/deid/DeidentificationProfiles.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
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
    bool skipBurnedIn = false;
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

std::optional<Options> parseArguments(CommandLine& cl)
{
    Options o;
    o.input = cl.positionals().value(0);
    o.output = cl.positionals().value(1);
    if (cl.isSet("profile"))
        o.profile = cl.value("profile");
    o.keepPrivate = cl.isSet("keep-private");
    o.inPlace = cl.isSet("in-place");
    o.overwrite = cl.isSet("overwrite");
    o.skipBurnedIn = cl.isSet("skip-burned-in");
    for (const QString& uid : cl.list("series"))
        o.series.insert(uid);
    if (cl.failed())
        return std::nullopt;
    return o;
}

std::optional<ConfidentialityProfile::File> profileFile(const QString& profile)
{
    if (profile == QLatin1String("basic"))
        return ConfidentialityProfile::load(ConfidentialityProfile::basicProfileName, QString());
    if (profile == QLatin1String("relaxed"))
        return ConfidentialityProfile::load(ConfidentialityProfile::relaxedProfileName, QString());
    auto file = ConfidentialityProfile::readFile(profile);
    if (file)
        file->name = ConfidentialityProfile::methodName(file->name, profile);
    return file;
}

QString reasonText(Dicom::Scanner::SkipReason reason)
{
    switch (reason) {
        case Dicom::Scanner::SkipReason::NotDicom: return QStringLiteral("not a DICOM file");
        case Dicom::Scanner::SkipReason::Truncated: return QStringLiteral("truncated");
        case Dicom::Scanner::SkipReason::Unreadable: return QStringLiteral("cannot be opened");
        case Dicom::Scanner::SkipReason::TooDeep:
            return QStringLiteral("sequences nested more than %1 levels deep")
                .arg(Dicom::StructureLimits().maximumDepth / 2);
        case Dicom::Scanner::SkipReason::DeflateBomb:
            return QStringLiteral("deflated data that inflates to more than %1 MiB")
                .arg(Dicom::StructureLimits().maximumInflatedBytes >> 20);
    }
    return QString();
}

// Input files the run will not write, each on one line of stderr with the reason. Returns
// {failures, left out}: DICOMDIRs are left out on purpose, everything else is a failure.
std::pair<int, int> reportUnread(const FolderInventory& inventory, const QMap<QString, QString>& skippedByScan,
                                 const QSet<QString>& scanned)
{
    QMap<QString, QString> problems;  // path -> reason, in path order
    for (const auto& problem : inventory.problems())
        problems.insert(QDir::cleanPath(problem.path), problem.reason);
    for (auto it = skippedByScan.begin(); it != skippedByScan.end(); ++it)
        if (!problems.contains(it.key()))
            problems.insert(it.key(), it.value());
    QTextStream err(stderr);
    int leftOut = 0;
    for (const QString& file : inventory.files()) {
        if (scanned.contains(file) || problems.contains(file))
            continue;
        if (QFileInfo(file).fileName().compare(QLatin1String("DICOMDIR"), Qt::CaseInsensitive) == 0) {
            err << "Left out " << FileNameCodec::escaped(file)
                << ": a DICOMDIR's record offsets would not survive de-identification\n";
            ++leftOut;
        } else {
            problems.insert(file, QStringLiteral("no image the scan could read"));
        }
    }
    for (auto it = problems.begin(); it != problems.end(); ++it)
        err << "Skipped " << FileNameCodec::escaped(it.key()) << ": " << it.value() << '\n';
    return {problems.size(), leftOut};
}

}  // namespace

int runDeidentifyCommand(const QStringList& args)
{
    CommandLine cl("deidentify",
                   "Scans INPUT and writes de-identified copies of all (or the given) series under OUTPUT, at\n"
                   "the same relative paths; files appear whole or not at all.");
    cl.addPositional("INPUT", "The folder to de-identify.");
    cl.addPositional("OUTPUT", "The folder to write to.");
    cl.addValue("profile", "PROFILE", "Confidentiality profile: basic (default), relaxed, or a profile file (.xml).");
    cl.addFlag("keep-private", "Keep private attributes.");
    cl.addValue("series", "UID[,UID...]", "Only these series (may be given more than once).");
    cl.addFlag("overwrite", "Write into an OUTPUT folder that is not empty.");
    cl.addFlag("skip-burned-in",
               "Leave out images with burned-in annotation (text in the pixels, which is not removed); "
               "without it they are written with Patient Identity Removed NO. Either way each is named.");
    cl.addFlag("in-place",
               "Replace the files of INPUT by their de-identified copies (OUTPUT equal to INPUT); "
               "links are written through to their targets, file modes are kept.");
    if (const auto status = cl.parse(args))
        return *status;
    const auto options = parseArguments(cl);
    if (!options)
        return cl.usageError();
    if (!QFileInfo(options->input).isDir())
        return cl.fail(2, "input folder not found: " + options->input);
    if (QFileInfo::exists(options->output) && !QFileInfo(options->output).isDir())
        return cl.fail(2, "the output is a file, not a folder: " + options->output);
    const QString folders =
        DicomEditorConversion::folderProblem(options->input, options->output, options->inPlace, options->overwrite);
    if (!folders.isEmpty())
        return cl.fail(2, folders);
    std::optional<ConfidentialityProfile::File> profile;
    {
        QuietLog log;
        profile = profileFile(options->profile);
        if (!profile) {
            const QString reason = log.firstMessage();
            return cl.fail(2, "cannot read the profile " + options->profile + (reason.isEmpty() ? "" : ": " + reason));
        }
    }

    const FolderInventory inventory(options->input);
    auto cache = std::make_shared<Dicom::DatasetCache>(64);
    Dicom::Scanner scanner(cache);
    std::mutex skippedMutex;
    QMap<QString, QString> skippedByScan;
    scanner.setSkippedFileHandler([&](const QString& path, Dicom::Scanner::SkipReason reason) {
        std::lock_guard<std::mutex> lock(skippedMutex);
        skippedByScan.insert(QDir::cleanPath(path), reasonText(reason));
    });
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
                        scanned.insert(QDir::cleanPath(QFile::decodeName(image->location.localFilePath().c_str())));
                if (options->series.isEmpty() || options->series.contains(series->seriesInstanceUid)) {
                    chosen.push_back(series);
                    found.insert(series->seriesInstanceUid);
                }
            }
    for (const QString& uid : options->series)
        if (!found.contains(uid))
            return cl.fail(2, "series not found: " + uid);
    const auto [unread, dicomdirs] = reportUnread(inventory, skippedByScan, scanned);

    // The scan kept headers only; the conversion reads every file in full once, so a small
    // cache of its own is enough.
    DicomEditorConversion conversion(options->input, options->output, profile->table, options->keepPrivate,
                                     std::make_shared<Dicom::DatasetCache>(16));
    conversion.setProfileName(profile->name);
    conversion.setSkipBurnedIn(options->skipBurnedIn);
    // From here on an interrupt lets the files in hand finish (before, there is nothing to clean).
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, onInterrupt);
    ProgressLine progress;
    const auto summary = conversion.run(DicomEditorConversion::locationsOf(chosen), &progress);
    progress.finish();

    const int failed = summary.failed + unread;
    QTextStream out(stdout);
    out << summary.written << " files written to " << options->output << ", " << failed << " failed, "
        << QString::number(summary.seconds, 'f', 2) << " s\n";
    QTextStream err(stderr);
    const int burnedIn = static_cast<int>(summary.burnedIn.size());
    const int leftOutBurnedIn = options->skipBurnedIn ? burnedIn : 0;
    const int leftOut = summary.leftOut - leftOutBurnedIn + dicomdirs;
    if (leftOut > 0)
        err << leftOut << (leftOut == 1 ? " DICOMDIR file" : " DICOMDIR files") << " left out\n";
    if (burnedIn > 0)
        err << burnedIn << (burnedIn == 1 ? " file" : " files") << " with burned-in annotation "
            << (options->skipBurnedIn ? "left out"
                                      : "written with Patient Identity Removed NO (the pixels may identify)")
            << '\n';
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
