#pragma once

#include "host/core/Url.h"
#include "host/dicom/Error.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "host/network/HttpError.h"
#include "host/network/HttpTransport.h"

#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

class DcmItem;

namespace Dravelin::Dicom {

// QIDO-RS searches of one DICOMweb server (studies, the series of a study, the instances of
// a series), answered as DCMTK items built from the DICOM JSON model.
//
// Safe for concurrent use from many threads: requests share a pool of kept-alive
// connections. Every request carries the authorization provider's credentials.
//
// The flag of the three searches asks for fuzzy matching of person names
// ("fuzzymatching=true"); it is sent only together with a filter, since it means nothing
// without one.
//
// When a server caps a result (a "299" Warning header saying more results exist), the
// remaining results are fetched page by page with offset (and limit when the server named
// its page size), until a page comes without the warning, empty, or with nothing not seen on
// an earlier page (a server that ignores the offset). A query that sets its
// own limit or offset is sent once, as asked.
//
// Failed requests answer an HttpError; the error recorder (when given) also receives each
// failure as a Dicom::Error of the WebClientErrors taxonomy.
class WebClient
{
public:
    using Items = std::vector<std::shared_ptr<DcmItem>>;
    using Result = std::variant<Items, Network::HttpError>;
    using ErrorRecorder = std::function<void(const Error&)>;

    explicit WebClient(const Filesystem::Url& url, ErrorRecorder recorder = {});
    ~WebClient();
    WebClient(const WebClient&) = delete;
    WebClient& operator=(const WebClient&) = delete;

    // The server root: the given URL without query, fragment and trailing "/".
    const Filesystem::Url& baseUrl() const { return m_baseUrl; }

    void setAuthorizationProvider(std::shared_ptr<Network::HttpAuthorizationProvider> provider);
    std::shared_ptr<Network::HttpAuthorizationProvider> authorizationProvider() const;
    void setTimeouts(long connectMs, long stallMs);

    // `query` is URL-encoded query text without "?" (may be empty).
    Result getStudies(const std::string& query, bool fuzzyMatching);
    // The study item must hold its StudyInstanceUID; series items lacking it receive it.
    Result getSeries(const DcmItem& studyItem, const std::string& query, bool fuzzyMatching);
    // The series item must hold StudyInstanceUID and SeriesInstanceUID; instance items lacking
    // them receive them.
    Result getInstances(const DcmItem& seriesItem, const std::string& query, bool fuzzyMatching);

    // baseUrl + path (each path piece percent-encoded by the caller), without query.
    Filesystem::Url resourceUrl(const std::string& path) const;

private:
    Result search(const std::string& path, std::string query, bool fuzzyMatching);
    Result fail(Network::HttpError error) const;

    Filesystem::Url m_baseUrl;
    ErrorRecorder m_recorder;
    Network::HttpTransport m_transport;
};

}  // namespace Dravelin::Dicom
