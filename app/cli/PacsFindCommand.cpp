#include "app/cli/PacsFindCommand.h"

#include "app/cli/TreeOutput.h"
#include "host/core/Log.h"
#include "host/dicom/DicomPacsCommunication.h"
#include "host/dicom/DicomPacsConfiguration.h"
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

const char* const usage =
    "usage: dravelin-dicom pacs-find --host H --port P --aet AET [--calling-aet A] [--patient FILTER]\n"
    "                                [--study FILTER] [--series] [--json] [--no-images] [--timeout SECONDS]\n";

struct Options
{
    DicomPacsConfiguration pacs;
    QString patientFilter;
    QString studyFilter;
    bool series = false;
    bool json = false;
    bool images = true;
};

std::optional<Options> parseArguments(const QStringList& args, QString& error)
{
    Options o;
    o.pacs.useCGet = true;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const auto next = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        const auto number = [&]() -> std::optional<int> {
            const auto text = next();
            bool ok = false;
            const int n = text ? text->toInt(&ok) : 0;
            if (text && !ok)
                error = arg + " needs a number";
            return ok ? std::optional<int>(n) : std::nullopt;
        };
        if (arg == "--series") {
            o.series = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--no-images") {
            o.images = false;
        } else if (arg == "--host" || arg == "--aet" || arg == "--calling-aet" || arg == "--patient" ||
                   arg == "--study") {
            const auto value = next();
            if (!value)
                return std::nullopt;
            if (arg == "--host")
                o.pacs.hostname = value->toStdString();
            else if (arg == "--aet")
                o.pacs.aeTitle = value->toStdString();
            else if (arg == "--calling-aet")
                o.pacs.ownAeTitle = value->toStdString();
            else if (arg == "--patient")
                o.patientFilter = *value;
            else
                o.studyFilter = *value;
        } else if (arg == "--port" || arg == "--timeout") {
            const auto value = number();
            if (!value)
                return std::nullopt;
            if (arg == "--port")
                o.pacs.port = *value;
            else
                o.pacs.connectTimeoutSeconds = *value;
        } else {
            error = "unknown argument " + arg;
            return std::nullopt;
        }
    }
    if (!o.pacs.isValid()) {
        error = "--host, --port and --aet are required and must be valid";
        return std::nullopt;
    }
    return o;
}

}  // namespace

int runPacsFindCommand(const QStringList& args)
{
    QString error;
    const std::optional<Options> options = parseArguments(args, error);
    if (!options) {
        std::fprintf(stderr, "dravelin-dicom pacs-find: %s\n%s", error.toUtf8().constData(), usage);
        return 2;
    }
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
        std::fprintf(stderr, "dravelin-dicom pacs-find: %s@%s:%d: %s\n", options->pacs.aeTitle.c_str(),
                     options->pacs.hostname.c_str(), options->pacs.port, firstError->text().c_str());
        return 2;
    }
    const QString summary =
        summaryLine(scanner.patients(), "PACS " + QString::fromStdString(options->pacs.aeTitle), seconds);
    printTreeOutput(scanner, options->json, options->images, summary);
    if (firstError) {
        // A partial answer: print what arrived, then say what went wrong.
        std::fprintf(stderr, "dravelin-dicom pacs-find: incomplete result: %s\n", firstError->text().c_str());
        return 1;
    }
    return 0;
}

}  // namespace Dravelin::Cli
