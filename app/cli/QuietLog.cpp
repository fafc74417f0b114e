#include "app/cli/QuietLog.h"

#include "host/core/Log.h"

#include <QTextStream>

#include <algorithm>

namespace Dravelin::Cli {

QuietLog::QuietLog()
    : m_threshold(Log::threshold()),
      m_quiet(!qEnvironmentVariableIsSet("DRAVELIN_LOG_LEVEL")),
      m_capture(std::min(m_threshold, 3))
{
    if (m_quiet)
        Log::setThreshold(5);
}

QuietLog::~QuietLog()
{
    Log::setThreshold(m_threshold);
}

QString QuietLog::firstMessage(int minimumLevel) const
{
    if (!m_quiet)
        return {};
    for (const Log::Entry& entry : m_capture.entries())
        if (entry.level >= minimumLevel)
            return QString::fromStdString(entry.message);
    return {};
}

void QuietLog::printHeld(const QString& prefix) const
{
    if (!m_quiet)
        return;
    QTextStream err(stderr);
    for (const Log::Entry& entry : m_capture.entries())
        if (entry.level >= m_threshold)
            err << prefix << ": " << QString::fromStdString(entry.message) << '\n';
}

}  // namespace Dravelin::Cli
