#include "host/dicom/dicomweb/WadoRetriever.h"

#include "host/core/Log.h"
#include "host/dicom/StructureCheck.h"
#include "host/dicom/dicomweb/WebClientErrors.h"

#include <QString>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>

#include <algorithm>

namespace Dravelin::Dicom {

namespace {

// Boundaries have at most 70 characters; a few servers go beyond, none by much. Longer ones
// are refused rather than searched for in every part.
constexpr std::size_t kMaximumBoundary = 200;

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

// The boundary parameter of a Content-Type, read by hand: a regular expression recurses once
// per character and overflows the stack on a long header.
std::string boundaryParameter(const std::string& contentType)
{
    std::size_t pos = contentType.find(';');
    while (pos != std::string::npos && pos < contentType.size()) {
        ++pos;
        while (pos < contentType.size() && isSpace(contentType[pos]))
            ++pos;
        const std::size_t nameEnd = contentType.find_first_of("=;", pos);
        if (nameEnd == std::string::npos)
            return {};
        std::string name = contentType.substr(pos, nameEnd - pos);
        while (!name.empty() && isSpace(name.back()))
            name.pop_back();
        if (contentType[nameEnd] == ';') {
            pos = nameEnd;
            continue;
        }
        pos = nameEnd + 1;
        while (pos < contentType.size() && isSpace(contentType[pos]))
            ++pos;
        std::string value;
        if (pos < contentType.size() && contentType[pos] == '"') {
            const std::size_t close = contentType.find('"', pos + 1);
            if (close == std::string::npos)
                return {};
            value = contentType.substr(pos + 1, close - pos - 1);
            pos = contentType.find(';', close);
        } else {
            const std::size_t end = contentType.find(';', pos);
            value = contentType.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            while (!value.empty() && isSpace(value.back()))
                value.pop_back();
            pos = end;
        }
        if (QString::fromStdString(name).compare("boundary", Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

std::string boundaryOf(const std::string& contentType, const std::string& body)
{
    std::string boundary = boundaryParameter(contentType);
    // Some servers leave the parameter out; the body then starts with the delimiter.
    if (boundary.empty() && body.rfind("--", 0) == 0) {
        const auto end = body.find("\r\n");
        if (end != std::string::npos)
            boundary = body.substr(2, std::min(end - 2, kMaximumBoundary + 1));
    }
    if (boundary.size() > kMaximumBoundary) {
        DRAVELIN_LOG(3, "DICOM",
                     "Multipart boundary longer than " + std::to_string(kMaximumBoundary) + " characters refused");
        return {};
    }
    return boundary;
}

std::shared_ptr<DcmDataset> parseInstance(const std::string& bytes, bool complete, std::string& error)
{
    const StructureCheck::Result checked = StructureCheck::checkBytes(bytes.data(), bytes.size(), false);
    if (!checked.ok()) {
        error = checked.problem;
        return nullptr;
    }
    DcmInputBufferStream stream;
    stream.setBuffer(bytes.data(), static_cast<offile_off_t>(bytes.size()));
    stream.setEos();
    DcmFileFormat file;
    // DCMTK throws from within its reader on some broken values.
    try {
        file.transferInit();
        const OFCondition status = file.read(stream, EXS_Unknown, EGL_noChange, DCM_MaxReadLength);
        file.transferEnd();
        if (status.bad()) {
            error = status.text();
            return nullptr;
        }
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
    std::shared_ptr<DcmDataset> dataset(file.getAndRemoveDataset());
    if (!complete)
        dataset->findAndDeleteElement(DCM_PixelData);
    return dataset;
}

std::string uidText(DcmDataset& dataset, const DcmTagKey& tag)
{
    OFString value;
    dataset.findAndGetOFString(tag, value);
    return value.c_str();
}

}  // namespace

WadoRetriever::WadoRetriever() = default;

void WadoRetriever::setAuthorizationProvider(std::shared_ptr<Network::HttpAuthorizationProvider> provider)
{
    m_transport.setAuthorizationProvider(std::move(provider));
}

std::shared_ptr<Network::HttpAuthorizationProvider> WadoRetriever::authorizationProvider() const
{
    return m_transport.authorizationProvider();
}

void WadoRetriever::setTimeouts(long connectMs, long stallMs)
{
    m_transport.setTimeouts(connectMs, stallMs);
}

std::vector<std::string> WadoRetriever::splitMultipart(const std::string& body, const std::string& contentType,
                                                       bool* complete)
{
    std::vector<std::string> parts;
    if (complete)
        *complete = false;
    const std::string boundary = boundaryOf(contentType, body);
    if (boundary.empty())
        return parts;
    const std::string delimiter = "--" + boundary;
    size_t position = body.find(delimiter);
    while (position != std::string::npos) {
        position += delimiter.size();
        if (body.compare(position, 2, "--") == 0) {
            if (complete)
                *complete = true;
            break;
        }
        const size_t headersEnd = body.find("\r\n\r\n", position);
        if (headersEnd == std::string::npos)
            break;
        const size_t start = headersEnd + 4;
        const size_t next = body.find("\r\n" + delimiter, start);
        if (next == std::string::npos)
            break;  // truncated: the part has no end
        parts.push_back(body.substr(start, next - start));
        position = next + 2;
    }
    return parts;
}

WadoRetriever::Result WadoRetriever::retrieve(const Filesystem::Url& url, Progress* progress, bool complete)
{
    Result result;
    const std::string target = Network::HttpTransport::requestUrl(url);
    if (progress)
        progress->setText("Downloading " + target);
    const Network::HttpTransport::CancelCheck cancelled = [progress] { return progress && progress->wasCancelled(); };
    auto answer =
        m_transport.get(url, {"Accept: multipart/related; type=\"application/dicom\"; transfer-syntax=*"}, cancelled);
    if (auto* error = std::get_if<Network::HttpError>(&answer)) {
        result.errors.push_back(WebClientErrors::fromHttpError(*error));
        return result;
    }
    const Network::HttpResponse& response = std::get<Network::HttpResponse>(answer);
    if (!Network::isSuccess(response.status)) {
        result.errors.push_back(
            WebClientErrors::fromHttpError({response.status, "Retrieving " + target + " answered HTTP " +
                                                                 std::to_string(Network::toInt(response.status))}));
        return result;
    }

    const std::string contentType = response.contentType();
    bool closed = true;
    std::vector<std::string> parts;
    if (QString::fromStdString(contentType).startsWith("multipart/", Qt::CaseInsensitive))
        parts = splitMultipart(response.body, contentType, &closed);
    else
        parts.push_back(response.body);  // a single application/dicom body
    if (progress)
        progress->setRange(static_cast<long long>(parts.size()));

    const bool instanceUrl = url.path().find("/instances/") != std::string::npos;
    int unreadable = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string reason;
        auto dataset = parseInstance(parts[i], complete, reason);
        if (!dataset) {
            ++unreadable;
            DRAVELIN_LOG(3, "DICOM", "Part " + std::to_string(i + 1) + " of " + target + " is not DICOM: " + reason);
            continue;
        }
        std::string name = target;
        if (!instanceUrl) {
            Filesystem::Url instance = url;
            instance.setQuery({});
            instance.setPath(url.path() + "/instances/" + uidText(*dataset, DCM_SOPInstanceUID));
            name = Network::HttpTransport::requestUrl(instance);
        }
        result.datasets.push_back(std::move(dataset));
        result.names.push_back(std::move(name));
        if (progress)
            progress->setValue(static_cast<long long>(i + 1));
    }

    const bool nothing = result.datasets.empty();
    if (!closed || unreadable > 0) {
        const std::string detail = target + ": " + std::to_string(unreadable) + " unreadable part(s)" +
                                   (closed ? std::string() : ", answer ended early");
        if (nothing)
            result.errors.push_back(Error(WebClientErrors::NetworkFailure, Error::Fatal, "No DICOM data in " + detail));
        else
            result.errors.push_back(WebClientErrors::partialResult("Incomplete retrieval of " + detail));
    } else if (nothing) {
        result.errors.push_back(Error(WebClientErrors::RequestFailed, Error::Fatal, "No instances at " + target));
    }
    return result;
}

}  // namespace Dravelin::Dicom
