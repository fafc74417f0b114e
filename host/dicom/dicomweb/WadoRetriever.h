#pragma once

#include "host/core/Progress.h"
#include "host/core/Url.h"
#include "host/dicom/Error.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "host/network/HttpTransport.h"

#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin::Dicom {

// WADO-RS retrieval of DICOM instances: an instance URL gives one dataset, a series (or
// study) URL all of its instances, read from a `multipart/related; type="application/dicom"`
// answer. Every request carries the authorization provider's credentials. Thread-safe.
//
// Failures come back as errors of the WebClientErrors taxonomy: a failed request as a whole
// (type 2), parts that could not be read next to parts that could (type 1, partial result).
class WadoRetriever
{
public:
    struct Result
    {
        std::vector<std::shared_ptr<DcmDataset>> datasets;
        // The instance URL of each dataset.
        std::vector<std::string> names;
        std::vector<Error> errors;
    };

    WadoRetriever();
    void setAuthorizationProvider(std::shared_ptr<Network::HttpAuthorizationProvider> provider);
    std::shared_ptr<Network::HttpAuthorizationProvider> authorizationProvider() const;
    void setTimeouts(long connectMs, long stallMs);

    // `complete` false drops the pixel data after reading (the answer holds it anyway).
    Result retrieve(const Filesystem::Url& url, Progress* progress, bool complete);

    // The bodies of a multipart answer, given its Content-Type (which names the boundary).
    // `complete` is false when the closing boundary is missing (a truncated answer).
    static std::vector<std::string> splitMultipart(const std::string& body, const std::string& contentType,
                                                   bool* complete);

private:
    Network::HttpTransport m_transport;
};

}  // namespace Dravelin::Dicom
