#include "host/core/Log.h"

#include "host/core/FileNameCodec.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
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
    std::atomic<int> sinkCount{0};
    std::mutex mutex;
    std::map<int, Sink> sinks;
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
    return level >= s.threshold.load(std::memory_order_relaxed) || s.sinkCount.load(std::memory_order_relaxed) > 0;
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
        sink(entry);
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

int addSink(Sink sink)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const int handle = s.nextHandle++;
    s.sinks.emplace(handle, std::move(sink));
    s.sinkCount.store(static_cast<int>(s.sinks.size()));
    return handle;
}

void removeSink(int handle)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.sinks.erase(handle);
    s.sinkCount.store(static_cast<int>(s.sinks.size()));
}

}  // namespace Dravelin::Log
