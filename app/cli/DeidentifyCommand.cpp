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
#include "host/dicom/Utils.h"
#include "host/dicom/deid/BurnedInTextRemoval.h"
#include "host/dicom/deid/DeidentificationJournal.h"
#include "host/dicom/deid/PixelCleaningRules.h"
#include "host/dicom/deid/DeidentificationProfiles.h"
#include "host/dicom/deid/UidMap.h"
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
    QString cleanPixels;
    QString cleanScope = QStringLiteral("likely");
    bool resume = false;
    QString keepMapping;
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
    o.cleanPixels = cl.value("clean-pixels");
    if (cl.isSet("clean-scope"))
        o.cleanScope = cl.value("clean-scope");
    o.resume = cl.isSet("resume");
    o.keepMapping = cl.value("keep-mapping");
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

bool isDicomdirName(const QString& file)
{
    return QFileInfo(file).fileName().compare(QLatin1String("DICOMDIR"), Qt::CaseInsensitive) == 0;
}

// What happened to the files found in INPUT: each is written, failed or left out for one reason,
// and the counts add up to the files found.
struct Accounts
{
    int found = 0;
    int written = 0;
    int failed = 0;
    QMap<QString, int> leftOut;  // reason -> files
    int leftOutTotal() const
    {
        int total = 0;
        for (const int n : leftOut)
            total += n;
        return total;
    }
    void leave(const QString& reason, int files = 1)
    {
        if (files > 0)
            leftOut[reason] += files;
    }
};

// Input files the scan could not read, each on one line of stderr with the reason: failures,
// except DICOMDIRs, which are left out on purpose.
// `scanned`: the files the scan read, the others are unread; nullptr: every file but DICOMDIRs
// goes to the conversion.
void reportUnread(const FolderInventory& inventory, const QMap<QString, QString>& skippedByScan,
                  const QSet<QString>* scanned, Accounts& accounts)
{
    QMap<QString, QString> problems;  // path -> reason, in path order
    for (const auto& problem : inventory.problems())
        problems.insert(QDir::cleanPath(problem.path), problem.reason);
    for (auto it = skippedByScan.begin(); it != skippedByScan.end(); ++it)
        if (!problems.contains(it.key()))
            problems.insert(it.key(), it.value());
    QTextStream err(stderr);
    for (const QString& file : inventory.files()) {
        if (problems.contains(file) || (scanned ? scanned->contains(file) : !isDicomdirName(file)))
            continue;
        if (isDicomdirName(file) || Dicom::Utils::isDicomdirFile(QFile::encodeName(file).toStdString())) {
            err << "Left out " << FileNameCodec::escaped(file)
                << ": a DICOMDIR's record offsets would not survive de-identification\n";
            accounts.leave(QStringLiteral("DICOMDIR"));
        } else {
            problems.insert(file, QStringLiteral("no image the scan could read"));
        }
    }
    for (auto it = problems.begin(); it != problems.end(); ++it)
        err << "Skipped " << FileNameCodec::escaped(it.key()) << ": " << it.value() << '\n';
    accounts.failed += problems.size();
}

// The files of the given series, series by series in image order, after a scan of the files
// found; the other files are left out, or failures when the scan could not read them.
// `missing`: a series given that the scan did not find.
std::vector<Filesystem::Url> selectSeries(const FolderInventory& inventory, const QSet<QString>& series,
                                          const Dicom::UidMap& resumed, Accounts& accounts, QString* missing)
{
    QStringList toScan;
    for (const QString& file : inventory.files())
        if (!isDicomdirName(file))
            toScan << file;
    Dicom::Scanner scanner(std::make_shared<Dicom::DatasetCache>(64));
    std::mutex skippedMutex;
    QMap<QString, QString> skippedByScan;
    scanner.setSkippedFileHandler([&](const QString& path, Dicom::Scanner::SkipReason reason) {
        std::lock_guard<std::mutex> lock(skippedMutex);
        skippedByScan.insert(QDir::cleanPath(path), reasonText(reason));
    });
    scanner.scanFiles(toScan, true);
    const auto patients = scanner.takePatients();

    // Resumed in place, the series written before carry their new UIDs.
    QSet<QString> selection;
    for (const QString& uid : series) {
        selection.insert(uid);
        if (const auto replaced = resumed.find(uid.toStdString()))
            selection.insert(QString::fromStdString(*replaced));
    }
    std::vector<const Dicom::Series*> chosen;
    QSet<QString> found;
    QSet<QString> scanned;
    for (const auto& patient : patients)
        for (const Dicom::Study* study : patient->studies)
            for (const Dicom::Series* s : study->series) {
                for (const Dicom::Image* image : s->images)
                    if (image->location.isLocalFile())
                        scanned.insert(QDir::cleanPath(QFile::decodeName(image->location.localFilePath().c_str())));
                if (selection.contains(s->seriesInstanceUid)) {
                    chosen.push_back(s);
                    found.insert(s->seriesInstanceUid);
                }
            }
    for (const QString& uid : series) {
        const auto replaced = resumed.find(uid.toStdString());
        if (!found.contains(uid) && !(replaced && found.contains(QString::fromStdString(*replaced)))) {
            *missing = uid;
            return {};  // a usage error, the only line on stderr
        }
    }
    reportUnread(inventory, skippedByScan, &scanned, accounts);
    auto locations = DicomEditorConversion::locationsOf(chosen);
    accounts.leave(QStringLiteral("outside the selected series"), scanned.size() - int(locations.size()));
    return locations;
}

// Journals and temporaries of de-identification runs found in INPUT: never input. Those of this
// run's own output (in place) are not counted; the others are left out and named.
void reportRunFiles(const FolderInventory& inventory, const QString& output, bool inPlace, Accounts& accounts)
{
    const QString ownJournal = QFileInfo(Dicom::DeidentificationJournal::pathIn(output)).absoluteFilePath();
    QTextStream err(stderr);
    for (const auto& file : inventory.runFiles()) {
        const bool journal = QFileInfo(file.path).fileName() == Dicom::DeidentificationJournal::fileName();
        if (inPlace && (!journal || QFileInfo(file.path).absoluteFilePath() == ownJournal))
            continue;
        err << "Left out " << FileNameCodec::escaped(file.path) << ": " << file.reason << '\n';
        accounts.leave(journal ? QStringLiteral("de-identification journal") : QStringLiteral("temporary file"));
        ++accounts.found;
    }
}

QString accountsLine(const Accounts& a)
{
    QString line = QStringLiteral("%1 files found: %2 written, %3 failed, %4 left out")
                       .arg(a.found)
                       .arg(a.written)
                       .arg(a.failed)
                       .arg(a.leftOutTotal());
    QStringList reasons;
    for (auto it = a.leftOut.begin(); it != a.leftOut.end(); ++it)
        reasons << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    return reasons.isEmpty() ? line : line + " (" + reasons.join(", ") + ")";
}

QString pathInside(const QString& path, const QString& folder)
{
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QString canonicalParent = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    return !canonicalFolder.isEmpty() && !canonicalParent.isEmpty() &&
                   (canonicalParent == canonicalFolder || canonicalParent.startsWith(canonicalFolder + "/"))
               ? folder
               : QString();
}

// The removal `value` of --clean-pixels asks for; null with `error` set when it cannot be made.
std::shared_ptr<const Dicom::BurnedInTextRemoval> pixelCleaning(const QString& value, const QString& scope,
                                                                QString* error)
{
    if (scope != QLatin1String("marked") && scope != QLatin1String("likely")) {
        *error = "--clean-scope must be marked or likely, not " + scope;
        return nullptr;
    }
    bool detect = false;
    std::shared_ptr<const Dicom::PixelCleaningRules> rules;
    for (const QString& part : value.split(',')) {
        if (part == QLatin1String("auto")) {
            detect = true;
        } else if (!rules && !part.isEmpty()) {
            rules = Dicom::PixelCleaningRules::load(part, error);
            if (!rules) {
                *error = "--clean-pixels: " + *error;
                return nullptr;
            }
        } else {
            *error = "--clean-pixels takes auto, a rules file, or both (FILE,auto), not " + value;
            return nullptr;
        }
    }
    return std::make_shared<Dicom::BurnedInTextRemoval>(rules, detect,
                                                        scope == QLatin1String("marked")
                                                            ? Dicom::BurnedInTextRemoval::Scope::Marked
                                                            : Dicom::BurnedInTextRemoval::Scope::Likely);
}

}  // namespace

int runDeidentifyCommand(const QStringList& args)
{
    CommandLine cl("deidentify",
                   "Scans INPUT and writes de-identified copies of all (or the given) series under OUTPUT, at\n"
                   "the same relative paths; files appear whole or not at all. Hidden files are de-identified\n"
                   "like the others. Until the run finishes, OUTPUT holds its journal (" +
                       Dicom::DeidentificationJournal::fileName() +
                       ", mode 0600), which maps the\n"
                       "original identifiers to the new ones; an interrupted run is finished with --resume.");
    cl.addPositional("INPUT", "The folder to de-identify.");
    cl.addPositional("OUTPUT", "The folder to write to.");
    cl.addValue("profile", "PROFILE", "Confidentiality profile: basic (default), relaxed, or a profile file (.xml).");
    cl.addFlag("keep-private", "Keep private attributes.");
    cl.addValue("series", "UID[,UID...]",
                "Only these series (may be given more than once); the other files are left out.");
    cl.addFlag("overwrite", "Write into an OUTPUT folder that is not empty.");
    cl.addFlag("skip-burned-in",
               "Leave out images with burned-in annotation (text in the pixels, which is not removed); "
               "without it they are written with Patient Identity Removed NO. Either way each is named.");
    cl.addValue("clean-pixels", "FILE|auto",
                "Remove text burned into the pixels (names, IDs, dates) by blacking it out: the rectangles "
                "of the rules in the region FILE (JSON) that match the image's Modality, Manufacturer, model, Rows "
                "and Columns, the text that OCR finds (auto), or both (FILE,auto). Cleaned images get Burned In "
                "Annotation NO and the Clean Pixel Data Option (code 113101); each file's boxes are logged.");
    cl.addValue("clean-scope", "marked|likely",
                "Images that auto looks at: those marked with Burned In Annotation YES (marked), or also "
                "unmarked US, SC, OT, XA, ES, XC and secondary-capture DX/CR (likely, the default).");
    cl.addFlag("in-place",
               "Replace the files of INPUT by their de-identified copies (OUTPUT equal to INPUT); "
               "links are written through to their targets, file modes are kept.");
    cl.addFlag("resume",
               "Finish the unfinished run whose journal OUTPUT holds: the same new UIDs and Patient IDs, "
               "the files it wrote skipped (same INPUT, profile and options).");
    cl.addValue("keep-mapping", "FILE",
                "When the run finishes, write the mapping of original to new UIDs and Patient IDs to FILE "
                "(mode 0600; not inside INPUT or OUTPUT), for re-linking later data. This file "
                "RE-IDENTIFIES the patients.");
    if (const auto status = cl.parse(args))
        return *status;
    const auto options = parseArguments(cl);
    if (!options)
        return cl.usageError();
    if (!QFileInfo(options->input).isDir())
        return cl.fail(2, "input folder not found: " + options->input);
    if (QFileInfo::exists(options->output) && !QFileInfo(options->output).isDir())
        return cl.fail(2, "the output is a file, not a folder: " + options->output);
    const bool resuming = DicomEditorConversion::hasUnfinishedRun(options->output);
    if (resuming && !options->resume)
        return cl.fail(2, "OUTPUT holds an unfinished run (" + Dicom::DeidentificationJournal::fileName() +
                              "): give --resume to finish it with the same new identifiers");
    const QString folders = DicomEditorConversion::folderProblem(options->input, options->output, options->inPlace,
                                                                 options->overwrite || resuming);
    if (!folders.isEmpty())
        return cl.fail(2, folders);
    if (!options->keepMapping.isEmpty()) {
        if (QFileInfo::exists(options->keepMapping))
            return cl.fail(2, "--keep-mapping: " + options->keepMapping + " exists; give a new file");
        const QString inside =
            pathInside(options->keepMapping, options->input) + pathInside(options->keepMapping, options->output);
        if (!inside.isEmpty())
            return cl.fail(2, "--keep-mapping: the mapping re-identifies the patients; keep it outside " + inside);
    }
    std::optional<ConfidentialityProfile::File> profile;
    {
        QuietLog log;
        profile = profileFile(options->profile);
        if (!profile) {
            const QString reason = log.firstMessage();
            return cl.fail(2, "cannot read the profile " + options->profile + (reason.isEmpty() ? "" : ": " + reason));
        }
    }

    Accounts accounts;
    const FolderInventory inventory(options->input);
    accounts.found = static_cast<int>(inventory.files().size() + inventory.problems().size());
    DicomEditorConversion conversion(options->input, options->output, profile->table, options->keepPrivate,
                                     std::make_shared<Dicom::DatasetCache>(16));
    conversion.setProfileName(profile->name);
    conversion.setSkipBurnedIn(options->skipBurnedIn);
    if (!options->cleanPixels.isEmpty()) {
        QString problem;
        const auto removal = pixelCleaning(options->cleanPixels, options->cleanScope, &problem);
        if (!removal)
            return cl.fail(2, problem);
        conversion.setPixelCleaning(removal, options->cleanPixels + " (" + options->cleanScope + ")");
    }
    conversion.setKeepMapping(options->keepMapping);
    if (resuming)
        if (const QString error = conversion.start(true); !error.isEmpty())
            return cl.fail(2, error);

    std::vector<Filesystem::Url> locations;
    if (options->series.isEmpty()) {
        // Every file goes to the conversion, which reads each once and names those it cannot read.
        for (const QString& file : inventory.files())
            if (!isDicomdirName(file))
                locations.push_back(Filesystem::Url::fromLocalFile(file));
        reportUnread(inventory, {}, nullptr, accounts);
    } else {
        QString missing;
        locations = selectSeries(inventory, options->series, conversion.uids(), accounts, &missing);
        if (!missing.isEmpty())
            return cl.fail(2, "series not found: " + missing);
    }
    reportRunFiles(inventory, options->output, conversion.inPlace(), accounts);
    if (!inventory.repeatedLinks().empty())
        QTextStream(stderr) << inventory.repeatedLinks().size()
                            << " links lead to files found under another path; each file is written once\n";
    if (!resuming)
        if (const QString error = conversion.start(false); !error.isEmpty())
            return cl.fail(2, error);

    // From here on an interrupt lets the files in hand finish (before, there is nothing to clean).
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, onInterrupt);
    ProgressLine progress;
    const auto summary = conversion.run(locations, &progress);
    progress.finish();

    accounts.written = summary.written;
    accounts.failed += summary.failed;
    const int burnedInLeftOut = options->skipBurnedIn ? static_cast<int>(summary.burnedIn.size()) : 0;
    accounts.leave(QStringLiteral("DICOMDIR"), summary.leftOut - burnedInLeftOut);
    accounts.leave(QStringLiteral("burned-in annotation"), burnedInLeftOut);
    accounts.leave(QStringLiteral("written by the interrupted run"), summary.writtenBefore);
    accounts.leave(QStringLiteral("not reached"), int(locations.size()) - summary.locations);
    QTextStream out(stdout);
    out << accounts.written << " files written to " << options->output << ", " << accounts.failed << " failed, "
        << QString::number(summary.seconds, 'f', 2) << " s\n"
        << accountsLine(accounts) << '\n';
    if (summary.cleaned > 0)
        out << summary.cleanedText() << '\n';
    QTextStream err(stderr);
    const int burnedIn = static_cast<int>(summary.burnedIn.size());
    if (burnedIn > 0)
        err << burnedIn << (burnedIn == 1 ? " file" : " files") << " with burned-in annotation "
            << (options->skipBurnedIn ? "left out"
                                      : "written with Patient Identity Removed NO (the pixels may identify)")
            << '\n';
    if (!summary.error.isEmpty())
        err << summary.error << '\n';
    const QString journal = Dicom::DeidentificationJournal::pathIn(options->output);
    const QString resumeHint = " keeps the new identifiers (it re-identifies the patients): run again with --resume" +
                               QString(options->keepMapping.isEmpty() ? "" : " --keep-mapping") + " to finish";
    if (summary.cancelled) {
        err << "Interrupted: " << int(locations.size()) - summary.locations << " files not reached; " << journal
            << resumeHint << '\n';
        return 1;
    }
    if (summary.journalKept && summary.error.isEmpty())
        err << journal << resumeHint << " once the cause of the failures is removed\n";
    if (accounts.failed > 0) {
        err << QCoreApplication::translate("DicomEditor", "Not all files could be saved. See log for details") << '\n';
        return 1;
    }
    return summary.error.isEmpty() ? 0 : 1;
}

}  // namespace Dravelin::Cli
