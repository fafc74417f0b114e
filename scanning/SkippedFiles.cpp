#include "scanning/SkippedFiles.h"

#include <algorithm>

namespace Dravelin::Dicom {

namespace {

constexpr Scanner::SkipReason kReasons[] = {Scanner::SkipReason::NotDicom, Scanner::SkipReason::Truncated,
                                            Scanner::SkipReason::TooDeep, Scanner::SkipReason::DeflateBomb,
                                            Scanner::SkipReason::Unreadable};

}  // namespace

void SkippedFiles::add(const QString& path, Scanner::SkipReason reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.emplace_back(path, reason);
}

void SkippedFiles::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.clear();
}

bool SkippedFiles::empty() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files.empty();
}

QString SkippedFiles::summary() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_files.empty())
        return {};
    QStringList parts;
    for (const Scanner::SkipReason reason : kReasons) {
        const auto n = std::count_if(m_files.begin(), m_files.end(), [&](const auto& f) { return f.second == reason; });
        if (n > 0)
            parts << QString::number(n) + ' ' + reasonText(reason);
    }
    return QStringLiteral("%1 %2 skipped: %3")
        .arg(m_files.size())
        .arg(m_files.size() == 1 ? "file" : "files", parts.join(", "));
}

std::vector<std::pair<QString, Scanner::SkipReason>> SkippedFiles::files() const
{
    std::vector<std::pair<QString, Scanner::SkipReason>> sorted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sorted = m_files;
    }
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return sorted;
}

QString SkippedFiles::reasonText(Scanner::SkipReason reason)
{
    switch (reason) {
        case Scanner::SkipReason::NotDicom: return QStringLiteral("not DICOM");
        case Scanner::SkipReason::Truncated: return QStringLiteral("truncated");
        case Scanner::SkipReason::Unreadable: return QStringLiteral("unreadable");
        case Scanner::SkipReason::TooDeep: return QStringLiteral("nested too deep");
        case Scanner::SkipReason::DeflateBomb: return QStringLiteral("inflating too far");
    }
    return {};
}

}  // namespace Dravelin::Dicom
