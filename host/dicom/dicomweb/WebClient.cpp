#include "host/dicom/dicomweb/WebClient.h"

#include "host/core/Log.h"
#include "host/dicom/dicomweb/DicomJsonReader.h"
#include "host/dicom/dicomweb/WebClientErrors.h"

#include <QUrl>
#include <QUrlQuery>

#include <sstream>
#include <unordered_set>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

namespace Dravelin::Dicom {

namespace {

constexpr int MaximumPages = 10000;

// What tells items of one search apart: their UIDs, or all their values when they have none.
std::string identityOf(DcmItem& item)
{
    std::string key;
    for (const DcmTagKey& tag : {DCM_StudyInstanceUID, DCM_SeriesInstanceUID, DCM_SOPInstanceUID}) {
        OFString value;
        item.findAndGetOFString(tag, value);
        key += value.c_str();
        key += '|';
    }
    if (key.size() > 3)
        return key;
    std::ostringstream text;
    item.print(text);
    return text.str();
}

std::string uidOf(const DcmItem& item, const DcmTagKey& tag)
{
    OFString value;
    const_cast<DcmItem&>(item).findAndGetOFString(tag, value);
    // Trailing NUL or space padding is not part of a UID.
    while (!value.empty() && (value.back() == '\0' || value.back() == ' '))
        value.erase(value.size() - 1);
    return value.c_str();
}

std::string encoded(const std::string& piece)
{
    return QUrl::toPercentEncoding(QString::fromStdString(piece)).toStdString();
}

bool hasQueryKey(const std::string& query, const char* key)
{
    return QUrlQuery(QString::fromStdString(query)).hasQueryItem(QString::fromLatin1(key));
}

std::string appendQuery(const std::string& query, const std::string& piece)
{
    return query.empty() ? piece : query + "&" + piece;
}

// A PS3.18 "299" warning announcing that more results exist than were sent.
bool isCappedResult(const Network::HttpResponse& response)
{
    for (const auto& [name, value] : response.headers) {
        if (QString::fromStdString(name).compare("Warning", Qt::CaseInsensitive) != 0)
            continue;
        const QString text = QString::fromStdString(value);
        if (text.startsWith("299") && text.contains("result", Qt::CaseInsensitive))
            return true;
    }
    return false;
}

std::string bodyExcerpt(const std::string& body)
{
    QString text = QString::fromUtf8(body.data(), static_cast<int>(std::min<size_t>(body.size(), 300))).simplified();
    return text.isEmpty() ? std::string() : ": " + text.toStdString();
}

void addMissingUid(WebClient::Items& items, const DcmTagKey& tag, const std::string& uid)
{
    if (uid.empty())
        return;
    for (auto& item : items) {
        if (!item->tagExistsWithValue(tag))
            item->putAndInsertString(tag, uid.c_str());
    }
}

}  // namespace

WebClient::WebClient(const Filesystem::Url& url, ErrorRecorder recorder) : m_recorder(std::move(recorder))
{
    m_baseUrl = url;
    m_baseUrl.setQuery({});
    m_baseUrl.setFragment({});
    std::string path = url.path();
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    m_baseUrl.setPath(path);
}

WebClient::~WebClient() = default;

void WebClient::setAuthorizationProvider(std::shared_ptr<Network::HttpAuthorizationProvider> provider)
{
    m_transport.setAuthorizationProvider(std::move(provider));
}

std::shared_ptr<Network::HttpAuthorizationProvider> WebClient::authorizationProvider() const
{
    return m_transport.authorizationProvider();
}

void WebClient::setTimeouts(long connectMs, long stallMs)
{
    m_transport.setTimeouts(connectMs, stallMs);
}

Filesystem::Url WebClient::resourceUrl(const std::string& path) const
{
    Filesystem::Url url = m_baseUrl;
    url.setPath(m_baseUrl.path() + path);
    return url;
}

WebClient::Result WebClient::getStudies(const std::string& query, bool fuzzyMatching)
{
    return search("/studies", query, fuzzyMatching);
}

WebClient::Result WebClient::getSeries(const DcmItem& studyItem, const std::string& query, bool fuzzyMatching)
{
    const std::string study = uidOf(studyItem, DCM_StudyInstanceUID);
    if (study.empty())
        return fail({Network::HttpStatus::BadRequest, "Cannot list series: the study has no StudyInstanceUID"});
    Result result = search("/studies/" + encoded(study) + "/series", query, fuzzyMatching);
    if (auto* items = std::get_if<Items>(&result))
        addMissingUid(*items, DCM_StudyInstanceUID, study);
    return result;
}

WebClient::Result WebClient::getInstances(const DcmItem& seriesItem, const std::string& query, bool fuzzyMatching)
{
    const std::string study = uidOf(seriesItem, DCM_StudyInstanceUID);
    const std::string series = uidOf(seriesItem, DCM_SeriesInstanceUID);
    if (study.empty() || series.empty())
        return fail({Network::HttpStatus::BadRequest,
                     "Cannot list instances: the series has no StudyInstanceUID or SeriesInstanceUID"});
    Result result =
        search("/studies/" + encoded(study) + "/series/" + encoded(series) + "/instances", query, fuzzyMatching);
    if (auto* items = std::get_if<Items>(&result)) {
        addMissingUid(*items, DCM_StudyInstanceUID, study);
        addMissingUid(*items, DCM_SeriesInstanceUID, series);
    }
    return result;
}

WebClient::Result WebClient::fail(Network::HttpError error) const
{
    DRAVELIN_LOG(1, "DICOM", error.text());
    if (m_recorder)
        m_recorder(WebClientErrors::fromHttpError(error));
    return error;
}

WebClient::Result WebClient::search(const std::string& path, std::string query, bool fuzzyMatching)
{
    if (fuzzyMatching && !query.empty() && !hasQueryKey(query, "fuzzymatching"))
        query = appendQuery(query, "fuzzymatching=true");
    const bool pagedByCaller = hasQueryKey(query, "limit") || hasQueryKey(query, "offset");
    const std::vector<std::string> headers = {"Accept: application/dicom+json, application/json;q=0.9"};

    Items all;
    std::unordered_set<std::string> seen;
    for (int page = 0; page < MaximumPages; ++page) {
        Filesystem::Url url = resourceUrl(path);
        url.setQuery(page == 0 ? query : appendQuery(query, "offset=" + std::to_string(all.size())));
        const std::string target = Network::HttpTransport::requestUrl(url);

        auto answer = m_transport.get(url, headers);
        if (auto* error = std::get_if<Network::HttpError>(&answer))
            return fail(*error);
        const Network::HttpResponse& response = std::get<Network::HttpResponse>(answer);
        if (!Network::isSuccess(response.status)) {
            return fail({response.status, "Search " + target + " answered HTTP " +
                                              std::to_string(Network::toInt(response.status)) +
                                              bodyExcerpt(response.body)});
        }
        if (response.status == Network::HttpStatus::NoContent)
            break;

        int skipped = 0;
        auto parsed = DicomJsonReader::readArray(QByteArray::fromStdString(response.body), &skipped);
        if (auto* reason = std::get_if<std::string>(&parsed))
            return fail({Network::HttpStatus::BadGateway, "Unreadable answer to " + target + ": " + *reason});
        Items& items = std::get<Items>(parsed);
        if (skipped > 0)
            DRAVELIN_LOG(1, "DICOM", std::to_string(skipped) + " unreadable attributes skipped in " + target);
        // A server that ignores the offset sends the same page again and again: stop when a
        // page adds nothing new.
        bool added = false;
        for (auto& item : items) {
            if (seen.insert(identityOf(*item)).second || page == 0) {
                all.push_back(std::move(item));
                added = true;
            }
        }
        const bool more = !pagedByCaller && isCappedResult(response) && added;
        if (!more)
            break;
        DRAVELIN_LOG(0, "DICOM", "Result of " + target + " capped; asking for the next page");
    }
    return all;
}

}  // namespace Dravelin::Dicom
