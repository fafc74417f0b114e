#include "app/cli/PacsFindCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/TreeOutput.h"
#include "host/core/Log.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Study.h"

#include <QElapsedTimer>

#include <cstdio>
#include <mutex>
#include <optional>

namespace Dravelin::Cli {

namespace {

using namespace Dravelin::Dicom;

struct Options
{
    DicomPacsConfiguration pacs;
    QString patientFilter;
    QString studyFilter;
    bool series = false;
    bool json = false;
    bool images = true;
};

// Why `title` cannot be an AE title, or nothing when it can.
QString aeTitleProblem(const QString& title)
{
    if (title.isEmpty())
        return QStringLiteral("it is empty");
    if (title.size() > 16)
        return QStringLiteral("it has more than 16 characters");
    if (title.trimmed().isEmpty())
        return QStringLiteral("it holds only spaces");
    for (const QChar c : title)
        if (c == '\\' || c.category() == QChar::Other_Control || c.unicode() > 0x7E)
            return QStringLiteral("only printable ASCII characters other than a backslash are allowed");
    return {};
}

std::optional<Options> parseArguments(CommandLine& cl)
{
    Options o;
    o.pacs.useCGet = true;
    o.pacs.hostname = cl.value("host").toStdString();
    if (o.pacs.hostname.empty())
        cl.reject("--host is missing");
    if (const auto port = cl.number("port", 1, 65535))
        o.pacs.port = *port;
    else if (!cl.isSet("port"))
        cl.reject("--port is missing");
    for (const char* name : {"aec", "aet"}) {
        if (!cl.isSet(name))
            continue;
        const QString title = cl.value(name);
        const QString problem = aeTitleProblem(title);
        if (!problem.isEmpty())
            cl.reject(QStringLiteral("--%1 '%2' is not a valid AE title: %3").arg(name, title, problem));
    }
    if (!cl.isSet("aec"))
        cl.reject("--aec (the server's AE title) is missing");
    o.pacs.aeTitle = cl.value("aec").toStdString();
    if (cl.isSet("aet"))
        o.pacs.ownAeTitle = cl.value("aet").toStdString();
    if (const auto timeout = cl.number("timeout", 1, 3600))
        o.pacs.connectTimeoutSeconds = *timeout;
    o.patientFilter = cl.value("patient");
    o.studyFilter = cl.value("study");
    o.series = cl.isSet("series");
    o.json = cl.isSet("json");
    o.images = !cl.isSet("no-images");
    if (cl.failed())
        return std::nullopt;
    return o;
}

}  // namespace

int runPacsFindCommand(const QStringList& args)
{
    CommandLine cl("pacs-find",
                   "Searches a PACS at study level (C-FIND) and prints the studies found, as the browser\n"
                   "shows them; --series resolves every study's series and images.");
    cl.addValue("host", "HOST", "Host name or address of the PACS.");
    cl.addValue("port", "PORT", "DIMSE port of the PACS (1 to 65535).");
    cl.addValue("aec", "AETITLE", "Called AE title: the PACS's own AE title.");
    cl.addValue("aet", "AETITLE",
                QStringLiteral("Calling AE title: ours, as the PACS knows it (default %1).")
                    .arg(DicomPacsConfiguration::DefaultOwnAeTitle));
    cl.addValue("patient", "FILTER", "Patient name to match, wildcards * and ? as the PACS supports them.");
    cl.addValue("study", "FILTER", "Study description to match, wildcards as the PACS supports them.");
    cl.addFlag("series", "Resolve every study's series and images.");
    cl.addFlag("json", "Print one JSON document {\"patients\": [...]} instead of text.");
    cl.addFlag("no-images", "Leave the images out.");
    cl.addValue(
        "timeout", "SECONDS",
        QStringLiteral("Connection timeout (default %1).").arg(DicomPacsConfiguration::DefaultConnectTimeoutSeconds));
    if (const auto status = cl.parse(args))
        return *status;
    const std::optional<Options> options = parseArguments(cl);
    if (!options)
        return cl.usageError();
    // The command prints its own errors and summary; the host's notes on settings and progress
    // would only interleave with them. DRAVELIN_LOG_LEVEL still decides when it is set.
    if (!qEnvironmentVariableIsSet("DRAVELIN_LOG_LEVEL"))
        Log::setThreshold(3);
    DicomPacsCommunication pacs(options->pacs);
    std::mutex mutex;
    std::optional<Error> firstError;
    pacs.setErrorHandler([&](const Error& e) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!firstError)
            firstError = e;
    });

    Scanner scanner(nullptr);
    scanner.setPacs(&pacs);
    QElapsedTimer timer;
    timer.start();
    scanner.scanPacs(options->patientFilter, options->studyFilter);
    if (options->series && !firstError) {
        std::vector<PacsSeriesProxy*> proxies;
        for (Patient* p : scanner.patients())
            for (Study* s : p->studies)
                if (s->pacsSeriesProxy)
                    proxies.push_back(s->pacsSeriesProxy);
        for (PacsSeriesProxy* proxy : proxies)
            scanner.scanPacsSeries(proxy);
    }
    const double seconds = timer.nsecsElapsed() / 1e9;

    if (firstError && scanner.patients().empty()) {
        return cl.fail(
            2, QStringLiteral("%1@%2:%3: %4")
                   .arg(QString::fromStdString(options->pacs.aeTitle), QString::fromStdString(options->pacs.hostname))
                   .arg(options->pacs.port)
                   .arg(QString::fromStdString(firstError->text())));
    }
    printTreeOutput(scanner, options->json, options->images, "PACS " + QString::fromStdString(options->pacs.aeTitle),
                    seconds);
    if (firstError) {
        // A partial answer: print what arrived, then say what went wrong.
        return cl.fail(1, "incomplete result: " + QString::fromStdString(firstError->text()));
    }
    return 0;
}

}  // namespace Dravelin::Cli
