#include "host/dicom/dimse/DicomPacsConfiguration.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <algorithm>
#include <cctype>

namespace Dravelin {

namespace {

bool isValidAeTitle(const std::string& ae)
{
    if (ae.empty() || ae.size() > 16)
        return false;
    const bool allSpaces = std::all_of(ae.begin(), ae.end(), [](char c) { return c == ' '; });
    const bool clean = std::none_of(ae.begin(), ae.end(),
                                    [](char c) { return c == '\\' || std::iscntrl(static_cast<unsigned char>(c)); });
    return !allSpaces && clean;
}

bool isValidPort(int port)
{
    return port >= 1 && port <= 65535;
}

// UIDs of odd length arrive padded with "\0", other strings with spaces.
std::string trimmed(const OFString& value)
{
    std::string s(value.c_str(), value.length());
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    size_t first = 0;
    while (first < s.size() && s[first] == ' ')
        ++first;
    return s.substr(first);
}

std::string stringOf(DcmDataset& dataset, const DcmTagKey& key)
{
    OFString value;
    if (dataset.findAndGetOFStringArray(key, value).bad())
        return {};
    return trimmed(value);
}

}  // namespace

DicomPacsConfiguration::DicomPacsConfiguration(const std::string& hostname, int port, const std::string& aeTitle,
                                               bool useCGet)
    : hostname(hostname), port(port), aeTitle(aeTitle), useCGet(useCGet)
{
}

bool DicomPacsConfiguration::isValid() const
{
    return !hostname.empty() && isValidPort(port) && isValidAeTitle(aeTitle) && isValidAeTitle(ownAeTitle) &&
           isValidPort(ownPort) && connectTimeoutSeconds > 0 && dimseTimeoutSeconds > 0;
}

Filesystem::Url DicomPacsConfiguration::generateUri(DcmDataset& response) const
{
    QueryItems items;
    const std::pair<const char*, DcmTagKey> keys[] = {{"study", DCM_StudyInstanceUID},
                                                      {"series", DCM_SeriesInstanceUID},
                                                      {"instance", DCM_SOPInstanceUID},
                                                      {"sopClass", DCM_SOPClassUID}};
    for (const auto& [name, key] : keys) {
        const std::string value = stringOf(response, key);
        if (!value.empty())
            items.emplace_back(name, value);
    }
    return generateUri(items);
}

Filesystem::Url DicomPacsConfiguration::generateUri(const QueryItems& query) const
{
    Filesystem::Url url;
    url.setScheme(Scheme);
    url.setHost(hostname);
    url.setPort(port);
    url.setPath("/" + aeTitle);
    url.appendSubquery("callingAet", ownAeTitle);
    url.appendSubquery("callingPort", std::to_string(ownPort));
    url.appendSubquery("get", useCGet ? "1" : "0");
    if (connectTimeoutSeconds != DefaultConnectTimeoutSeconds)
        url.appendSubquery("connectTimeout", std::to_string(connectTimeoutSeconds));
    if (dimseTimeoutSeconds != DefaultDimseTimeoutSeconds)
        url.appendSubquery("dimseTimeout", std::to_string(dimseTimeoutSeconds));
    for (const auto& [key, value] : query)
        url.appendSubquery(key, value);
    return url;
}

DicomPacsConfiguration DicomPacsConfiguration::fromUri(const Filesystem::Url& url)
{
    if (url.scheme() != Scheme || url.host().empty())
        return {};
    std::string path = url.path();
    if (!path.empty() && path.front() == '/')
        path.erase(0, 1);
    DicomPacsConfiguration config(url.host(), url.port(0), path, url.subquery("get").value_or("0") == "1");
    auto number = [&url](const char* key, int fallback) {
        const auto text = url.subquery(key);
        if (!text)
            return fallback;
        try {
            size_t used = 0;
            const int value = std::stoi(*text, &used);
            return used == text->size() ? value : 0;
        } catch (...) {
            return 0;  // makes the configuration invalid instead of silently using a default
        }
    };
    if (const auto calling = url.subquery("callingAet"))
        config.ownAeTitle = *calling;
    config.ownPort = number("callingPort", DefaultOwnPort);
    config.connectTimeoutSeconds = number("connectTimeout", DefaultConnectTimeoutSeconds);
    config.dimseTimeoutSeconds = number("dimseTimeout", DefaultDimseTimeoutSeconds);
    return config;
}

bool DicomPacsConfiguration::operator==(const DicomPacsConfiguration& other) const
{
    return hostname == other.hostname && port == other.port && aeTitle == other.aeTitle &&
           ownAeTitle == other.ownAeTitle && ownPort == other.ownPort && useCGet == other.useCGet &&
           connectTimeoutSeconds == other.connectTimeoutSeconds && dimseTimeoutSeconds == other.dimseTimeoutSeconds;
}

}  // namespace Dravelin
