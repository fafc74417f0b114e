#include "app/cli/WebScanCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/HttpOptions.h"
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

std::optional<Options> parseArguments(CommandLine& cl)
{
    Options o;
    o.url = cl.positionals().front();
    o.user = cl.value("user");
    o.passwordVariable = cl.value("password-env");
    o.tokenVariable = cl.value("token-env");
    o.threads = cl.number("threads", 1, 1024);
    o.json = cl.isSet("json");
    o.images = !cl.isSet("no-images");
    // A password without a user would be dropped without a word, and the scan fail with 401.
    if (!o.passwordVariable.isEmpty() && o.user.isEmpty())
        cl.reject("--password-env needs --user");
    const Filesystem::Url url(o.url.toStdString());
    if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https"))
        cl.reject("not an http(s) URL: " + o.url);
    if (cl.failed())
        return std::nullopt;
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
    CommandLine cl("web-scan",
                   "Searches a DICOMweb server (QIDO-RS: studies, series, instances; metadata only) and\n"
                   "prints the tree as the browser shows it.");
    cl.addPositional("URL", "The server's DICOMweb root; a query part (?PatientName=Doe*) filters the studies.");
    cl.addValue("user", "USER", "User name for basic authentication.");
    cl.addValue("password-env", "VARIABLE",
                "Environment variable that holds the password (kept out of the process list).");
    cl.addValue("token-env", "VARIABLE", "Environment variable that holds a bearer token.");
    cl.addValue("threads", "N", "Requests in parallel.");
    cl.addFlag("json", "Print one JSON document {\"patients\": [...]} instead of text.");
    cl.addFlag("no-images", "Leave the images out.");
    addHttpTimeoutOption(cl);
    if (const auto status = cl.parse(args))
        return *status;
    if (!applyHttpTimeoutOption(cl))
        return cl.usageError();
    const std::optional<Options> options = parseArguments(cl);
    if (!options)
        return cl.usageError();
    const Filesystem::Url url(options->url.toStdString());

    // The command prints its own errors and summary; the host's notes on settings and progress
    // would only interleave with them. DRAVELIN_LOG_LEVEL still decides when it is set.
    if (!qEnvironmentVariableIsSet("DRAVELIN_LOG_LEVEL"))
        Log::setThreshold(3);
    auto provider = std::make_shared<Network::HttpAuthorizationProvider>();
    QString error;
    const auto password = environment(options->passwordVariable, error);
    const auto token = environment(options->tokenVariable, error);
    if (!error.isEmpty())
        return cl.fail(2, error);
    if (token)
        provider->setBearerToken(*token);
    else if (!options->user.isEmpty())
        provider->setBasic(options->user.toStdString(), password.value_or(std::string()));
    const std::string warning = Utils::checkDicomWebUrlWarnings(options->url.toStdString());
    if (!warning.empty())
        cl.fail(0, "warning: " + QString::fromStdString(warning));

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
        return cl.fail(2, QString::fromStdString(describe(*httpError)));
    }
    printTreeOutput(scanner, options->json, options->images,
                    QString::fromStdString(url.string(Filesystem::Url::RemoveUserInfo)), seconds);
    if (httpError) {
        // Part of the server answered: print what arrived, then the first error.
        return cl.fail(1, "incomplete result: " + QString::fromStdString(describe(*httpError)));
    }
    return 0;
}

}  // namespace Dravelin::Cli
