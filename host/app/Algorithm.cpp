#include "host/app/Algorithm.h"

namespace Dravelin {

Algorithm::~Algorithm() = default;

OwningDataList Algorithm::takeOutput()
{
    return {};
}

}  // namespace Dravelin
