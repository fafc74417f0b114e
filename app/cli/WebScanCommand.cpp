#include "app/cli/WebScanCommand.h"

#include "app/cli/TreeOutput.h"
#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/Utils.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "host/network/HttpError.h"
#include "scanning/Scanner.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace Dravelin::Cli {

namespace {

using namespace Dravelin::Dicom;

const char* const usage =
    "usage: dravelin-dicom web-scan URL [--user U] [--password-env VAR] [--token-env VAR] [--threads N] [--json]\n"
    "                               [--no-images]\n";

struct Options
{
    QString url;
    QString user;
    QString passwordVariable;
    QString tokenVariable;
    std::optional<int> threads;
    bool json = false;
    bool images = true;
};

std::optional<Options> parseArguments(const QStringList& args, QString& error)
{
    Options o;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == "--json") {
            o.json = true;
        } else if (arg == "--no-images") {
            o.images = false;
        } else if (arg == "--user" || arg == "--password-env" || arg == "--token-env" || arg == "--threads") {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            const QString value = args[++i];
            if (arg == "--user") {
                o.user = value;
            } else if (arg == "--password-env") {
                o.passwordVariable = value;
            } else if (arg == "--token-env") {
                o.tokenVariable = value;
            } else {
                bool ok = false;
                o.threads = value.toInt(&ok);
                if (!ok) {
                    error = "--threads needs a number";
                    return std::nullopt;
                }
            }
        } else if (arg.startsWith("--")) {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (o.url.isEmpty()) {
            o.url = arg;
        } else {
            error = "more than one URL";
            return std::nullopt;
        }
    }
    if (o.url.isEmpty()) {
        error = "a DICOMweb URL is required";
        return std::nullopt;
    }
    // A password without a user would be dropped without a word, and the scan fail with 401.
    if (!o.passwordVariable.isEmpty() && o.user.isEmpty()) {
        error = "--password-env needs --user";
        return std::nullopt;
    }
    return o;
}

std::optional<std::string> environment(const QString& variable, QString& error)
{
    if (variable.isEmpty())
        return std::nullopt;
    const char* value = std::getenv(variable.toLocal8Bit().constData());
    if (!value) {
        error = "environment variable " + variable + " is not set";
        return std::nullopt;
    }
    return std::string(value);
}

// No status to show when the server never answered (refused, timed out, bad TLS).
std::string describe(const Network::HttpError& error)
{
    if (error.status == Network::HttpStatus::NoResponse)
        return error.message;
    return "HTTP " + std::to_string(error.code()) + ": " + error.message;
}

}  // namespace

int runWebScanCommand(const QStringList& args)
{
    QString error;
    const std::optional<Options> options = parseArguments(args, error);
    const Filesystem::Url url(options ? options->url.toStdString() : std::string());
    if (options && (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https")))
        error = "not an http(s) URL: " + options->url;
    if (!options || !error.isEmpty()) {
        std::fprintf(stderr, "dravelin-dicom web-scan: %s\n%s", error.toUtf8().constData(), usage);
        return 2;
    }

    // The command prints its own errors and summary; the host's notes on settings and progress
    // would only interleave with them. DRAVELIN_LOG_LEVEL still decides when it is set.
    if (!qEnvironmentVariableIsSet("DRAVELIN_LOG_LEVEL"))
        Log::setThreshold(3);
    auto provider = std::make_shared<Network::HttpAuthorizationProvider>();
    const auto password = environment(options->passwordVariable, error);
    const auto token = environment(options->tokenVariable, error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "dravelin-dicom web-scan: %s\n", error.toUtf8().constData());
        return 2;
    }
    if (token)
        provider->setBearerToken(*token);
    else if (!options->user.isEmpty())
        provider->setBasic(options->user.toStdString(), password.value_or(std::string()));
    const std::string warning = Utils::checkDicomWebUrlWarnings(options->url.toStdString());
    if (!warning.empty())
        std::fprintf(stderr, "dravelin-dicom web-scan: warning: %s\n", warning.c_str());

    auto cache = std::make_shared<DatasetCache>(0);
    cache->setAuthorizationProvider(provider);
    Scanner scanner(cache);
    if (options->threads)
        scanner.setNumberOfThreads(*options->threads);
    QElapsedTimer timer;
    timer.start();
    const std::optional<Network::HttpError> httpError = scanner.scanWeb(url);
    const double seconds = timer.nsecsElapsed() / 1e9;

    if (httpError && scanner.patients().empty()) {
        std::fprintf(stderr, "dravelin-dicom web-scan: %s\n", describe(*httpError).c_str());
        return 2;
    }
    const QString summary =
        summaryLine(scanner.patients(), QString::fromStdString(url.string(Filesystem::Url::RemoveUserInfo)), seconds);
    printTreeOutput(scanner, options->json, options->images, summary);
    if (httpError) {
        // Part of the server answered: print what arrived, then the first error.
        std::fprintf(stderr, "dravelin-dicom web-scan: incomplete result: %s\n", describe(*httpError).c_str());
        return 1;
    }
    return 0;
}

}  // namespace Dravelin::Cli
