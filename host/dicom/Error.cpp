#include "host/dicom/Error.h"

#include "host/core/FileNameCodec.h"

namespace Dravelin::Dicom {

Error::Error(Code c, Type t, const std::string& text, std::optional<TagProxy> t2)
    : code(c), type(t), message(FileNameCodec::escaped(text)), tag(t2)
{
}

std::string Error::text() const
{
    if (!tag)
        return message;
    return tag->toString() + ": " + message;
}

}  // namespace Dravelin::Dicom
