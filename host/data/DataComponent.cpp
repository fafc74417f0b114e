#include "host/data/DataComponent.h"

namespace Dravelin {

DataComponent::~DataComponent() = default;

}  // namespace Dravelin
