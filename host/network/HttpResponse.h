#pragma once

#include "host/network/HttpStatus.h"

#include <string>
#include <utility>
#include <vector>

namespace Dravelin::Network {

// One answered HTTP request (of any status).
struct HttpResponse
{
    HttpStatus status = HttpStatus::NoResponse;
    std::string body;
    // Headers of the final answer (after redirects), names as sent.
    std::vector<std::pair<std::string, std::string>> headers;

    // The first header of that name (case-insensitive), empty when absent.
    std::string header(const std::string& name) const;
    std::string contentType() const { return header("Content-Type"); }
};

}  // namespace Dravelin::Network
