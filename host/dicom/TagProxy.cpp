#include "host/dicom/TagProxy.h"

#include <cstdio>

namespace Dravelin::Dicom {

std::string TagProxy::toString() const
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "(%04x,%04x)", group, element);
    return buffer;
}

}  // namespace Dravelin::Dicom
