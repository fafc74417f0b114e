#include "host/app/ApplicationController.h"

namespace Dravelin {

ApplicationController::~ApplicationController() = default;

}  // namespace Dravelin
