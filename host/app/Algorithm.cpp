#include "host/app/Algorithm.h"

namespace Dravelin {

Algorithm::~Algorithm() = default;

}  // namespace Dravelin
