#include "app/cli/DeidentifyCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/QuietLog.h"
#include "editor/ConfidentialityProfile.h"
#include "editor/DicomEditorConversion.h"
#include "host/core/Progress.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DeidentificationProfiles.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QFileInfo>
#include <QSet>
#include <QTextStream>

#include <atomic>
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
    QSet<QString> series;
};

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
    bool wasCancelled() const override { return false; }
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
    for (const QString& uid : cl.list("series"))
        o.series.insert(uid);
    if (cl.failed())
        return std::nullopt;
    return o;
}

std::optional<Dicom::DeidentificationActionTable> profileTable(const QString& profile)
{
    if (profile == QLatin1String("basic"))
        return Dicom::tagDeidentificationActionBasicProfile();
    if (profile == QLatin1String("relaxed"))
        return Dicom::tagDeidentificationActionRelaxedProfile();
    if (const auto file = ConfidentialityProfile::readFile(profile))
        return file->table;
    return std::nullopt;
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
    if (const auto status = cl.parse(args))
        return *status;
    const auto options = parseArguments(cl);
    if (!options)
        return cl.usageError();
    if (!QFileInfo(options->input).isDir())
        return cl.fail(2, "input folder not found: " + options->input);
    if (QFileInfo::exists(options->output) && !QFileInfo(options->output).isDir())
        return cl.fail(2, "the output is a file, not a folder: " + options->output);
    std::optional<Dicom::DeidentificationActionTable> table;
    {
        QuietLog log;
        table = profileTable(options->profile);
        if (!table) {
            const QString reason = log.firstMessage();
            return cl.fail(2, "cannot read the profile " + options->profile + (reason.isEmpty() ? "" : ": " + reason));
        }
    }

    auto cache = std::make_shared<Dicom::DatasetCache>(64);
    Dicom::Scanner scanner(cache);
    scanner.scanDirectory(options->input, true, false, true);
    const auto patients = scanner.takePatients();

    std::vector<const Dicom::Series*> chosen;
    QSet<QString> found;
    for (const auto& patient : patients)
        for (const Dicom::Study* study : patient->studies)
            for (const Dicom::Series* series : study->series)
                if (options->series.isEmpty() || options->series.contains(series->seriesInstanceUid)) {
                    chosen.push_back(series);
                    found.insert(series->seriesInstanceUid);
                }
    for (const QString& uid : options->series)
        if (!found.contains(uid))
            return cl.fail(2, "series not found: " + uid);

    // The scan kept headers only; the conversion reads every file in full once, so a small
    // cache of its own is enough.
    DicomEditorConversion conversion(options->input, options->output, *table, options->keepPrivate,
                                     std::make_shared<Dicom::DatasetCache>(16));
    ProgressLine progress;
    const auto summary = conversion.run(DicomEditorConversion::locationsOf(chosen), &progress);
    progress.finish();

    QTextStream out(stdout);
    out << summary.written << " files written to " << options->output << ", " << summary.failed << " failed, "
        << QString::number(summary.seconds, 'f', 2) << " s\n";
    if (!summary.complete()) {
        QTextStream err(stderr);
        err << summary.message() << '\n';
        return 1;
    }
    return 0;
}

}  // namespace Dravelin::Cli
