#pragma once

#include "host/network/HttpStatus.h"

#include <string>

namespace Dravelin::Network {

// A failed HTTP request: the status (NoResponse when the server never answered) and a
// message for people that names the request.
struct HttpError
{
    HttpStatus status = HttpStatus::NoResponse;
    std::string message;

    HttpError() = default;
    HttpError(HttpStatus s, std::string text) : status(s), message(std::move(text)) {}
    HttpError(int s, std::string text) : status(static_cast<HttpStatus>(s)), message(std::move(text)) {}

    int code() const { return toInt(status); }
    bool isAuthorizationFailure() const
    {
        return status == HttpStatus::Unauthorized || status == HttpStatus::Forbidden;
    }
    // message + " (" + status + ")"
    std::string text() const;
};

}  // namespace Dravelin::Network
