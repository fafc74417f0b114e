#include "host/network/HttpResponse.h"

#include <strings.h>

namespace Dravelin::Network {

std::string HttpResponse::header(const std::string& name) const
{
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    }
    return {};
}

}  // namespace Dravelin::Network
