#pragma once

#include "host/dicom/TagProxy.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace Dravelin::Dicom {

// The one shape of DICOM errors in the host: what went wrong (code), how bad it is
// (type: 0 information, 1 warning, 2 fatal), a message for people, and the tag involved.
struct Error
{
    enum Code : int {
        Success = 0,
        Unknown = 1,
        InvalidValue = 2,  // a value that cannot be parsed
        NotSupported = 3,  // valid DICOM that we do not handle
        MissingValue = 4,
        IoError = 5,
        NetworkError = 6,
        Cancelled = 7,
    };
    enum Type : int { Information = 0, Warning = 1, Fatal = 2 };

    Code code = Unknown;
    Type type = Fatal;
    std::string message;
    std::optional<TagProxy> tag;

    Error() = default;
    // A file name in `text` that is not UTF-8 is kept readable, its odd bytes written as \xHH.
    Error(Code c, Type t, const std::string& text, std::optional<TagProxy> t2 = std::nullopt);

    std::string text() const;  // the message, with the tag when there is one
};

// Thrown by the few host operations documented to throw (e.g. Element::value()).
class Exception : public std::runtime_error
{
public:
    explicit Exception(Error error) : std::runtime_error(error.text()), m_error(std::move(error)) {}
    const Error& error() const { return m_error; }

private:
    Error m_error;
};

}  // namespace Dravelin::Dicom
