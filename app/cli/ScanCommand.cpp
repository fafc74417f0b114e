#include "app/cli/ScanCommand.h"

#include "app/cli/ModelTextPrinter.h"
#include "browser/models/DicomBrowserModel.h"
#include "host/core/LogCapture.h"
#include "scanning/DimensionsText.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/oflog/oflog.h>

#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <optional>

namespace Dravelin::Cli {

namespace {

using namespace Dravelin::Dicom;

const char* const usage =
    "usage: dravelin-dicom scan PATH [--dicomdir-only] [--no-recursive] [--no-header-check] [--threads N] [--json]\n"
    "                           [--no-images]\n";

// Progress on stderr: one rewritten line on a terminal, throttled plain lines otherwise.
class ProgressScanner : public Scanner
{
public:
    explicit ProgressScanner(bool terminal) : Scanner(nullptr), m_terminal(terminal) { m_clock.start(); }

    int lastMaximum() const { return m_maximum; }

    void finish()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        print(true);
        if (m_terminal && m_printed)
            std::fputc('\n', stderr);
    }

protected:
    void updateProgress(int value, int maximum) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_value = value;
        m_maximum = maximum;
        print(false);
    }

    void updateProgressText(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_text = text;
        print(true);
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
    std::mutex m_mutex;
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
};

std::optional<Options> parseArguments(const QStringList& args, QString& error)
{
    Options options;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == "--dicomdir-only") {
            options.dicomdirOnly = true;
        } else if (arg == "--no-recursive") {
            options.recursive = false;
        } else if (arg == "--no-header-check") {
            options.headerCheck = false;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--no-images") {
            options.images = false;
        } else if (arg == "--threads") {
            bool ok = false;
            const int n = i + 1 < args.size() ? args[i + 1].toInt(&ok) : 0;
            if (!ok) {
                error = "--threads needs a number";
                return std::nullopt;
            }
            options.threads = n;
            ++i;
        } else if (arg.startsWith("--")) {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (options.path.isEmpty()) {
            options.path = arg;
        } else {
            error = "more than one PATH";
            return std::nullopt;
        }
    }
    if (options.path.isEmpty()) {
        error = "PATH is missing";
        return std::nullopt;
    }
    return options;
}

QString dateText(const QDate& d)
{
    return d.isValid() ? d.toString("yyyy-MM-dd") : QString();
}

QString timeText(const QTime& t)
{
    return t.isValid() ? t.toString("HH:mm:ss.zzz") : QString();
}

template <typename T>
QJsonValue optionalValue(const std::optional<T>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

template <typename Array>
QJsonArray numbers(const Array& values)
{
    QJsonArray result;
    for (double v : values)
        result.append(v);
    return result;
}

QJsonObject imageJson(const Image& i)
{
    return QJsonObject{{"sopInstanceUid", i.sopInstanceUid},
                       {"instanceNumberText", i.instanceNumberText},
                       {"imageType", i.imageType},
                       {"width", i.width},
                       {"height", i.height},
                       {"channels", i.channels},
                       {"bitsAllocated", i.bitsAllocated},
                       {"numberOfFrames", i.numberOfFrames},
                       {"sliceThickness", i.sliceThickness},
                       {"protocolName", i.protocolName},
                       {"bodyPartExamined", i.bodyPartExamined},
                       {"manufacturer", i.manufacturer},
                       {"manufacturerModelName", i.manufacturerModelName},
                       {"location", QString::fromStdString(i.location.string())},
                       {"imagePosition", numbers(i.imagePosition)},
                       {"imageOrientation", numbers(i.imageOrientation)},
                       {"pixelSpacing", numbers(i.pixelSpacing)},
                       {"spacingBetweenSlices", optionalValue(i.spacingBetweenSlices)},
                       {"instanceNumber", optionalValue(i.instanceNumber)},
                       {"acquisitionNumber", optionalValue(i.acquisitionNumber)}};
}

QJsonObject seriesJson(const Series& s)
{
    QJsonArray images;
    for (const Image* i : s.images)
        images.append(imageJson(*i));
    QJsonArray dimensions;
    for (const DimensionsInfo& d : s.dimensions)
        dimensions.append(dimensionsText(d));
    return QJsonObject{{"seriesInstanceUid", s.seriesInstanceUid},
                       {"sopClassUid", s.sopClassUid},
                       {"seriesTime", timeText(s.seriesTime)},
                       {"seriesDate", dateText(s.seriesDate)},
                       {"seriesNumber", s.seriesNumber},
                       {"seriesDescription", s.seriesDescription},
                       {"imageType", s.imageType},
                       {"modality", s.modality},
                       {"dimensions", dimensions},
                       {"estimatedDimensions", dimensionsText(s.estimatedDimensions)},
                       {"images", images}};
}

QJsonObject studyJson(const Study& s)
{
    QJsonArray series;
    for (const Series* r : s.series)
        series.append(seriesJson(*r));
    return QJsonObject{{"studyInstanceUid", s.studyInstanceUid}, {"studyId", s.studyId},
                       {"studyTime", timeText(s.studyTime)},     {"studyDate", dateText(s.studyDate)},
                       {"studyDescription", s.studyDescription}, {"series", series}};
}

QJsonObject patientJson(const Patient& p)
{
    QJsonArray studies;
    for (const Study* s : p.studies)
        studies.append(studyJson(*s));
    return QJsonObject{{"patientId", p.patientId},           {"patientName", p.patientName}, {"sex", p.sex},
                       {"birthDate", dateText(p.birthDate)}, {"comment", p.comment},         {"studies", studies}};
}

struct Counts
{
    size_t patients = 0, studies = 0, series = 0, images = 0;
};

Counts count(const std::vector<Patient*>& patients)
{
    Counts c;
    c.patients = patients.size();
    for (const Patient* p : patients) {
        c.studies += p->studies.size();
        for (const Study* s : p->studies) {
            c.series += s->series.size();
            for (const Series* r : s->series)
                c.images += r->images.size();
        }
    }
    return c;
}

}  // namespace

int runScanCommand(const QStringList& args)
{
    QString error;
    const std::optional<Options> options = parseArguments(args, error);
    if (!options) {
        std::fprintf(stderr, "dravelin-dicom scan: %s\n%s", error.toUtf8().constData(), usage);
        return 2;
    }
    const QFileInfo info(options->path);
    const bool readable = info.exists() && info.isReadable() && (!info.isDir() || info.isExecutable());
    if (!readable) {
        std::fprintf(stderr, "dravelin-dicom scan: %s: %s\n", options->path.toUtf8().constData(),
                     info.exists() ? "cannot be read" : "no such file or folder");
        return 2;
    }
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);

    ProgressScanner scanner(isatty(fileno(stderr)) != 0);
    if (options->threads)
        scanner.setNumberOfThreads(*options->threads);
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    int files = 0;
    if (info.isDir()) {
        scanner.scanDirectory(info.absoluteFilePath(), options->recursive, options->dicomdirOnly, options->headerCheck);
        files = scanner.lastMaximum();
    } else {
        LogCapture log;
        scanner.scanDicomDir(info.absoluteFilePath());
        files = 1;
        if (log.contains("Could not load DICOMDIR", 4))
            status = 1;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    scanner.finish();

    const std::vector<Patient*>& patients = scanner.patients();
    const Counts c = count(patients);
    const QString summary = QString("%1 patients, %2 studies, %3 series, %4 images, %5 files, %6 seconds")
                                .arg(c.patients)
                                .arg(c.studies)
                                .arg(c.series)
                                .arg(c.images)
                                .arg(files)
                                .arg(seconds, 0, 'f', 3);
    if (options->json) {
        QJsonArray list;
        for (const Patient* p : patients)
            list.append(patientJson(*p));
        const QByteArray text = QJsonDocument(QJsonObject{{"patients", list}}).toJson(QJsonDocument::Indented);
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fprintf(stderr, "%s\n", summary.toUtf8().constData());
    } else {
        // The browser's own model renders the text, so both always agree.
        DicomBrowserModel model(scanner.datasetCache());
        for (auto& patient : scanner.takePatients())
            model.addPatient(patient.release());
        QTextStream out(stdout);
        printModel(out, model, options->images);
        out << summary << '\n';
    }
    std::fflush(stdout);
    return status;
}

}  // namespace Dravelin::Cli
