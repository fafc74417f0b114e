// Dicom::Utils::checkDicomWebUrlWarnings: what a user should know about a DICOMweb URL
// before a scan sends anything to it.
#include "host/dicom/Utils.h"

#include "host/core/Url.h"

#include <QStringList>

namespace Dravelin::Dicom::Utils {

namespace {

bool isLoopback(const std::string& host)
{
    return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

}  // namespace

std::string checkDicomWebUrlWarnings(const std::string& url)
{
    const QString text = QString::fromStdString(url).trimmed();
    if (text.isEmpty())
        return {};
    const Filesystem::Url parsed(text.toStdString());
    const std::string scheme = parsed.scheme();
    if (!parsed.isValid() || (scheme != "http" && scheme != "https") || parsed.host().empty())
        return "This is not a valid DICOMweb URL: it must start with http:// or https:// and name a server.";

    QStringList warnings;
    const bool plain = scheme == "http" && !isLoopback(parsed.host());
    const bool credentials = !parsed.userName().empty() || !parsed.password().empty();
    if (plain && credentials)
        warnings << "The URL contains credentials that would be sent unencrypted over http.";
    else if (plain)
        warnings << "The connection is not encrypted (http): patient data and any credentials can be read on the "
                    "network. Use https if the server supports it.";
    if (!parsed.password().empty())
        warnings << "The URL contains a password; it is kept in the list of recent URLs.";
    return warnings.join('\n').toStdString();
}

}  // namespace Dravelin::Dicom::Utils
