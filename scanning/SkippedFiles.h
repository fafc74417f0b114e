#pragma once

#include "scanning/Scanner.h"

#include <QString>
#include <QStringList>

#include <mutex>
#include <utility>
#include <vector>

namespace Dravelin::Dicom {

// The files a folder scan left out and why, gathered from its worker threads (a scanner's
// skipped-file handler may call add() from any thread), told the same way wherever a scan ran.
class SkippedFiles
{
public:
    void add(const QString& path, Scanner::SkipReason reason);
    void clear();
    bool empty() const;
    // "14 files skipped: 9 not DICOM, 3 truncated, 2 unreadable"; empty when none was.
    QString summary() const;
    // The files with their reasons, sorted by path.
    std::vector<std::pair<QString, Scanner::SkipReason>> files() const;
    // "not DICOM", "truncated", ...
    static QString reasonText(Scanner::SkipReason reason);

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<QString, Scanner::SkipReason>> m_files;
};

}  // namespace Dravelin::Dicom
