#include "app/cli/HttpOptions.h"

#include "app/cli/CommandLine.h"
#include "host/network/HttpTransport.h"

namespace Dravelin::Cli {

void addHttpTimeoutOption(CommandLine& cl)
{
    cl.addValue("timeout", "SECONDS",
                "Longest time one HTTP request may take, however slowly the server sends (default 120).");
}

bool applyHttpTimeoutOption(CommandLine& cl)
{
    const std::optional<int> seconds = cl.number("timeout", 1, 24 * 3600);
    if (cl.failed())
        return false;
    if (seconds) {
        Network::HttpTransport::Limits limits = Network::HttpTransport::defaultLimits();
        limits.totalMs = *seconds * 1000L;
        Network::HttpTransport::setDefaultLimits(limits);
    }
    return true;
}

}  // namespace Dravelin::Cli
