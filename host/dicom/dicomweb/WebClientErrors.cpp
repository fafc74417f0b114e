#include "host/dicom/dicomweb/WebClientErrors.h"

namespace Dravelin::Dicom::WebClientErrors {

Error fromHttpError(const Network::HttpError& error)
{
    if (error.isAuthorizationFailure())
        return Error(AuthorizationFailed, Error::Fatal, error.text());
    if (error.status == Network::HttpStatus::NoResponse || error.status == Network::HttpStatus::BadGateway)
        return Error(NetworkFailure, Error::Fatal, error.message);
    return Error(RequestFailed, Error::Fatal, error.text());
}

Error partialResult(const std::string& detail)
{
    return Error(PartialResult, Error::Warning, detail);
}

}  // namespace Dravelin::Dicom::WebClientErrors
