#pragma once

#include <chrono>
#include <string>

namespace Dravelin {

// Measures elapsed time on the monotonic clock. A named timer logs its time when it goes
// out of scope ("Loading series: 1.25 s"), which makes timing a block one line.
class Timer
{
public:
    Timer();
    // Logs "<name>: <elapsed>" at `logLevel` on the "Timer" channel when destroyed.
    explicit Timer(std::string name, int logLevel = 1);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void restart();
    double elapsedMilliseconds() const;
    double elapsedSeconds() const;
    // The elapsed time for people: "850 ms", "12.4 s", "3 min 07 s", "1 h 02 min".
    std::string formatted() const;
    static std::string format(double seconds);

private:
    std::chrono::steady_clock::time_point m_start;
    std::string m_name;
    int m_logLevel = 1;
};

}  // namespace Dravelin
