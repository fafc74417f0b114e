#pragma once

#include "host/core/LogCapture.h"

#include <QString>

namespace Dravelin::Cli {

// While alive, keeps the host log off stderr (unless DRAVELIN_LOG_LEVEL asks for it) and
// collects its messages, so that a command can turn the reason of a failure into its one
// error line instead of the log's several.
class QuietLog
{
public:
    QuietLog();
    ~QuietLog();
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;

    // The first message of `minimumLevel` or above; empty when there is none, or when the
    // log still reaches stderr (DRAVELIN_LOG_LEVEL is set) and the reason has been printed.
    QString firstMessage(int minimumLevel = 3) const;
    // Prints the held messages that the log would have shown, one "PREFIX: message" line each
    // (when the command went on despite them).
    void printHeld(const QString& prefix) const;

private:
    const int m_threshold;
    const bool m_quiet;
    // What firstMessage() and printHeld() may give; below it messages are not even made (a
    // DICOMDIR's records would each note the elements they lack).
    LogCapture m_capture;
};

}  // namespace Dravelin::Cli
