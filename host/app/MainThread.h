#pragma once

#include <functional>

namespace Dravelin::QtHelpers {

// Runs `function` on the thread of the QCoreApplication. From that thread it runs at once;
// from another thread it is queued, and with `blocking` the caller waits until it has run.
// Without a running application the function is dropped (and logged).
void runOnMainThread(std::function<void()> function, bool blocking = false);

}  // namespace Dravelin::QtHelpers
