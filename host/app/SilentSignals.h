#pragma once

#include <functional>

class QObject;

namespace Dravelin::QtHelpers {

// Runs `change` while the signals of `object` are blocked; the previous blocking state is
// restored afterwards, so nested calls are fine.
void setSilent(QObject* object, const std::function<void()>& change);

}  // namespace Dravelin::QtHelpers
