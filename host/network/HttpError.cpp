#include "host/network/HttpError.h"

namespace Dravelin::Network {

std::string HttpError::text() const
{
    return message + " (" + std::to_string(code()) + ")";
}

}  // namespace Dravelin::Network
