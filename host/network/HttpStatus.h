#pragma once

namespace Dravelin::Network {

// HTTP status numbers. `NoResponse` (0) stands for a request that never got an HTTP answer
// (connection refused, timeout, TLS failure); any other number is what the server sent, or
// the closest HTTP meaning of a client-side finding (an unreadable answer is `BadGateway`).
enum class HttpStatus : int {
    NoResponse = 0,
    Ok = 200,
    Created = 201,
    Accepted = 202,
    NoContent = 204,
    PartialContent = 206,
    MovedPermanently = 301,
    Found = 302,
    SeeOther = 303,
    NotModified = 304,
    TemporaryRedirect = 307,
    PermanentRedirect = 308,
    BadRequest = 400,
    Unauthorized = 401,
    Forbidden = 403,
    NotFound = 404,
    MethodNotAllowed = 405,
    NotAcceptable = 406,
    RequestTimeout = 408,
    Conflict = 409,
    Gone = 410,
    PayloadTooLarge = 413,
    UnsupportedMediaType = 415,
    TooManyRequests = 429,
    InternalServerError = 500,
    NotImplemented = 501,
    BadGateway = 502,
    ServiceUnavailable = 503,
    GatewayTimeout = 504,
};

inline int toInt(HttpStatus status)
{
    return static_cast<int>(status);
}

inline bool isSuccess(HttpStatus status)
{
    return toInt(status) >= 200 && toInt(status) < 300;
}

}  // namespace Dravelin::Network
