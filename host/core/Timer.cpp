#include "host/core/Timer.h"

#include "host/core/Log.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace Dravelin {

Timer::Timer() : m_start(std::chrono::steady_clock::now()) {}

Timer::Timer(std::string name, int logLevel)
    : m_start(std::chrono::steady_clock::now()), m_name(std::move(name)), m_logLevel(logLevel)
{
}

Timer::~Timer()
{
    if (!m_name.empty() && Log::isAccepted(m_logLevel))
        Log::log(m_logLevel, "Timer", m_name + ": " + formatted());
}

void Timer::restart()
{
    m_start = std::chrono::steady_clock::now();
}

double Timer::elapsedMilliseconds() const
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start).count();
}

double Timer::elapsedSeconds() const
{
    return elapsedMilliseconds() / 1000.0;
}

std::string Timer::formatted() const
{
    return format(elapsedSeconds());
}

std::string Timer::format(double seconds)
{
    char text[64];
    if (!(seconds >= 0))
        seconds = 0;
    if (seconds < 1)
        std::snprintf(text, sizeof text, "%.0f ms", seconds * 1000);
    else if (seconds < 60)
        std::snprintf(text, sizeof text, "%.*f s", seconds < 10 ? 2 : 1, seconds);
    else if (seconds < 3600) {
        const long long s = std::llround(seconds);
        std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
    } else {
        const long long m = std::llround(seconds / 60);
        std::snprintf(text, sizeof text, "%lld h %02lld min", m / 60, m % 60);
    }
    return text;
}

}  // namespace Dravelin
