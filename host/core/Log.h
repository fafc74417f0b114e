#pragma once

#include <QString>

#include <functional>
#include <string>

namespace Dravelin::Log {

// Levels: 0 most verbose (debug), 1 info, 2 warning, 3 error-ish, 4 error.
// Messages at or above the threshold go to stderr. The threshold comes from the
// environment variable DRAVELIN_LOG_LEVEL (default 2) and can be changed at run time.
struct Entry
{
    int level = 0;
    std::string channel;
    std::string message;
    std::string file;
    int line = 0;
};

using Sink = std::function<void(const Entry&)>;

// True when a message of this level would reach stderr or any installed sink.
bool isAccepted(int level);

void log(int level, const std::string& channel, const std::string& message, const char* file = nullptr, int line = 0);
void log(int level, const std::string& channel, const QString& message, const char* file = nullptr, int line = 0);
void log(int level, const std::string& channel, const char* message, const char* file = nullptr, int line = 0);

int threshold();
void setThreshold(int level);

// Extra sinks receive every message of `minimumLevel` or above, regardless of the stderr
// threshold. Thread-safe.
int addSink(Sink sink, int minimumLevel = 0);
void removeSink(int handle);

}  // namespace Dravelin::Log

// Logs with file and line, formatting the message only when it will be used.
#define DRAVELIN_LOG(level, channel, message)                                        \
    do {                                                                             \
        if (::Dravelin::Log::isAccepted(level))                                      \
            ::Dravelin::Log::log((level), (channel), (message), __FILE__, __LINE__); \
    } while (false)
