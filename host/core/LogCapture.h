#pragma once

#include "host/core/Log.h"

#include <mutex>
#include <vector>

namespace Dravelin {

// Collects log messages while alive (for tests and for batch summaries).
class LogCapture
{
public:
    // Takes the messages of `minimumLevel` or above.
    explicit LogCapture(int minimumLevel = 0);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Log::Entry> entries() const;
    // True when a captured message contains `text` (and has `level`, when level >= 0).
    bool contains(const std::string& text, int level = -1) const;
    int count(const std::string& text, int level = -1) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Log::Entry> m_entries;
    int m_handle = -1;
};

}  // namespace Dravelin
