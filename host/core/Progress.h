#pragma once

#include <atomic>
#include <string>

namespace Dravelin {

// Progress reporter handed to long operations. Implementations may be called from any thread.
class Progress
{
public:
    virtual ~Progress() = default;
    virtual void setRange(long long maximum) = 0;
    virtual void setValue(long long value) = 0;
    virtual void setText(const std::string& text) = 0;
    // True once the user asked to stop; long operations poll it.
    virtual bool wasCancelled() const = 0;
};

}  // namespace Dravelin
