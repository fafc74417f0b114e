#include "host/core/LogCapture.h"

namespace Dravelin {

LogCapture::LogCapture(int minimumLevel)
{
    m_handle = Log::addSink(
        [this](const Log::Entry& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_entries.push_back(e);
        },
        minimumLevel);
}

LogCapture::~LogCapture()
{
    Log::removeSink(m_handle);
}

std::vector<Log::Entry> LogCapture::entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

int LogCapture::count(const std::string& text, int level) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& e : m_entries)
        if ((level < 0 || e.level == level) && e.message.find(text) != std::string::npos)
            ++n;
    return n;
}

bool LogCapture::contains(const std::string& text, int level) const
{
    return count(text, level) > 0;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

}  // namespace Dravelin
