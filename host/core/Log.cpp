#include "host/core/Log.h"

#include "host/core/FileNameCodec.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <limits>
#include <map>
#include <mutex>

namespace Dravelin::Log {

namespace {

int thresholdFromEnvironment()
{
    const char* value = std::getenv("DRAVELIN_LOG_LEVEL");
    if (!value || !*value)
        return 2;
    char* end = nullptr;
    const long level = std::strtol(value, &end, 10);
    if (end == value)
        return 2;
    return static_cast<int>(level);
}

struct State
{
    std::atomic<int> threshold{thresholdFromEnvironment()};
    // The lowest level a sink takes (none: above every level).
    std::atomic<int> sinkMinimum{std::numeric_limits<int>::max()};
    std::mutex mutex;
    std::map<int, std::pair<Sink, int>> sinks;
    int nextHandle = 1;
};

State& state()
{
    static State s;
    return s;
}

const char* levelName(int level)
{
    switch (level) {
        case 0: return "DEBUG";
        case 1: return "INFO";
        case 2: return "WARNING";
        case 3: return "ERROR";
        default: return level >= 4 ? "FATAL" : "TRACE";
    }
}

}  // namespace

bool isAccepted(int level)
{
    State& s = state();
    return level >= s.threshold.load(std::memory_order_relaxed) ||
           level >= s.sinkMinimum.load(std::memory_order_relaxed);
}

void log(int level, const std::string& channel, const std::string& message, const char* file, int line)
{
    State& s = state();
    // A file name that is not UTF-8 shows its odd bytes as \xHH.
    Entry entry{level, channel, FileNameCodec::escaped(message), file ? file : "", line};
    std::lock_guard<std::mutex> lock(s.mutex);
    if (level >= s.threshold.load(std::memory_order_relaxed)) {
        if (channel.empty())
            std::fprintf(stderr, "[%s] %s\n", levelName(level), entry.message.c_str());
        else
            std::fprintf(stderr, "[%s] %s: %s\n", levelName(level), channel.c_str(), entry.message.c_str());
    }
    for (const auto& [handle, sink] : s.sinks)
        if (level >= sink.second)
            sink.first(entry);
}

void log(int level, const std::string& channel, const QString& message, const char* file, int line)
{
    log(level, channel, FileNameCodec::escaped(message).toStdString(), file, line);
}

void log(int level, const std::string& channel, const char* message, const char* file, int line)
{
    log(level, channel, std::string(message ? message : ""), file, line);
}

int threshold()
{
    return state().threshold.load();
}

void setThreshold(int level)
{
    state().threshold.store(level);
}

namespace {

void updateSinkMinimum(State& s)
{
    int minimum = std::numeric_limits<int>::max();
    for (const auto& [handle, sink] : s.sinks)
        minimum = std::min(minimum, sink.second);
    s.sinkMinimum.store(minimum);
}

}  // namespace

int addSink(Sink sink, int minimumLevel)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const int handle = s.nextHandle++;
    s.sinks.emplace(handle, std::make_pair(std::move(sink), minimumLevel));
    updateSinkMinimum(s);
    return handle;
}

void removeSink(int handle)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.sinks.erase(handle);
    updateSinkMinimum(s);
}

}  // namespace Dravelin::Log
