#pragma once

#include "host/dicom/Error.h"
#include "host/network/HttpError.h"

#include <string>

// How DICOMweb failures reach the error callbacks of the dataset cache and the error recorder
// of the web client. The user interface reacts on (type, code):
//
//   type 2 (Fatal),   code 19  AuthorizationFailed: the server refused the credentials (401, 403);
//                              asking the user again is the remedy.
//   type 2 (Fatal),   code 18  NetworkFailure: no usable answer (connection refused, timeout,
//                              TLS failure, a truncated or unreadable answer). The message says which.
//   type 2 (Fatal),   code 20  RequestFailed: the server answered with another error status
//                              (404, 500, ...) and nothing of the request could be used.
//   type 1 (Warning), code 17  PartialResult: the result is incomplete; part of what was asked for
//                              arrived (some instances of a series, some parts of an answer).
//
// The numbers are the host's own; they continue Error::Code.
namespace Dravelin::Dicom::WebClientErrors {

constexpr Error::Code PartialResult = static_cast<Error::Code>(17);
constexpr Error::Code NetworkFailure = static_cast<Error::Code>(18);
constexpr Error::Code AuthorizationFailed = static_cast<Error::Code>(19);
constexpr Error::Code RequestFailed = static_cast<Error::Code>(20);

// The error a whole failed request is reported as.
Error fromHttpError(const Network::HttpError& error);
// The warning of a result that arrived only in part; `detail` says what is missing.
Error partialResult(const std::string& detail);

}  // namespace Dravelin::Dicom::WebClientErrors
