#include "host/core/LocationString.h"

namespace Dravelin::Filesystem {

namespace {
const std::string separator = "##";
}

std::vector<std::string> splitLocationString(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + separator.size();
    }
    return parts;
}

std::string joinLocationString(const std::vector<std::string>& locations)
{
    std::string result;
    for (const std::string& location : locations) {
        if (location.empty())
            continue;
        if (!result.empty())
            result += separator;
        result += location;
    }
    return result;
}

}  // namespace Dravelin::Filesystem
