#include "host/dicom/Error.h"

namespace Dravelin::Dicom {

std::string Error::text() const
{
    if (!tag)
        return message;
    return tag->toString() + ": " + message;
}

}  // namespace Dravelin::Dicom
