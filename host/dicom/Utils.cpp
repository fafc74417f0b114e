#include "host/dicom/Utils.h"

#include <cctype>
#include <fstream>

namespace Dravelin::Dicom::Utils {

namespace {

Error timeError(const std::string& message)
{
    return Error(Error::InvalidValue, Error::Warning, message);
}

bool twoDigits(const std::string& s, size_t pos, int& out)
{
    if (pos + 2 > s.size() || !std::isdigit(static_cast<unsigned char>(s[pos])) ||
        !std::isdigit(static_cast<unsigned char>(s[pos + 1])))
        return false;
    out = (s[pos] - '0') * 10 + (s[pos + 1] - '0');
    return true;
}

std::string trimPadding(const std::string& value)
{
    size_t end = value.find('\0');
    if (end == std::string::npos)
        end = value.size();
    size_t begin = 0;
    while (begin < end && std::isspace(static_cast<unsigned char>(value[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(value[end - 1])))
        --end;
    return value.substr(begin, end - begin);
}

}  // namespace

std::variant<std::int64_t, Error> parseDICOMTime(const std::string& value)
{
    const std::string s = trimPadding(value);
    if (s.empty())
        return timeError("Cannot parse Time from empty string");
    const std::string bad = "Cannot parse Time from '" + s + "'";

    // The retired ACR-NEMA form separates the components with colons.
    const bool colons = s.size() > 2 && s[2] == ':';
    int hours = 0, minutes = 0, seconds = 0;
    size_t pos = 0;
    if (!twoDigits(s, pos, hours))
        return timeError(bad);
    pos += 2;
    auto component = [&](int& out) -> bool {
        if (pos >= s.size() || s[pos] == '.')
            return true;
        if (colons) {
            if (s[pos] != ':')
                return false;
            ++pos;
        }
        if (!twoDigits(s, pos, out))
            return false;
        pos += 2;
        return true;
    };
    if (!component(minutes))
        return timeError(bad);
    if (!component(seconds))
        return timeError(bad);

    std::int64_t micro = 0;
    if (pos < s.size()) {
        // A fraction is only allowed after the seconds.
        if (s[pos] != '.' || pos < (colons ? 8u : 6u))
            return timeError(bad);
        ++pos;
        int digits = 0;
        for (; pos < s.size(); ++pos, ++digits) {
            if (!std::isdigit(static_cast<unsigned char>(s[pos])) || digits >= 6)
                return timeError(bad);
            micro = micro * 10 + (s[pos] - '0');
        }
        for (; digits < 6; ++digits)
            micro *= 10;
    }
    if (hours > 23 || minutes > 59 || seconds > 60)
        return timeError(bad);
    if (seconds == 60) {  // a leap second: keep it within the day
        seconds = 59;
        micro = 999999;
    }
    return ((static_cast<std::int64_t>(hours) * 60 + minutes) * 60 + seconds) * 1000000 + micro;
}

std::string parseDICOMSex(const std::string& value)
{
    const std::string s = trimPadding(value);
    if (s.empty())
        return "Unknown";
    if (s.size() == 1) {
        switch (std::toupper(static_cast<unsigned char>(s[0]))) {
            case 'M': return "Male";
            case 'F': return "Female";
            case 'O': return "Other";
            default: break;
        }
    }
    return s;
}

bool hasDicomHeader(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    char buffer[132];
    if (!file.read(buffer, sizeof buffer))
        return false;
    return buffer[128] == 'D' && buffer[129] == 'I' && buffer[130] == 'C' && buffer[131] == 'M';
}

std::unique_ptr<MemImage> generatePreview(DcmDataset&, bool, std::optional<int>)
{
    return nullptr;  // interim: the DCMTK renderer replaces this
}

void registerCodecs() {}

}  // namespace Dravelin::Dicom::Utils
