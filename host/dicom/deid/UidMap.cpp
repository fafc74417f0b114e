#include "host/dicom/deid/UidMap.h"

#include <QRandomGenerator>

#include <utility>

namespace Dravelin::Dicom {

std::string UidMap::generate()
{
    quint64 words[2];
    QRandomGenerator::system()->fillRange(words, 2);
    unsigned __int128 value = (static_cast<unsigned __int128>(words[0]) << 64) | words[1];
    char digits[40];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    std::string uid = "2.25.";
    while (n > 0)
        uid += digits[--n];
    return uid;
}

std::string UidMap::replacement(const std::string& oldUid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_map.find(oldUid);
    if (it == m_map.end()) {
        it = m_map.emplace(oldUid, generate()).first;
        m_new.push_back({Entry::Kind::Uid, oldUid, it->second});
    }
    return it->second;
}

std::string UidMap::patientId(const std::string& oldId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_patientIds.find(oldId);
    if (it != m_patientIds.end())
        return it->second;
    std::string dummy;
    do {
        dummy = "ANON";
        for (int i = 0; i < 12; ++i)
            dummy += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[QRandomGenerator::system()->bounded(36)];
    } while (!m_patientDummies.insert(dummy).second);
    m_new.push_back({Entry::Kind::PatientId, oldId, dummy});
    return m_patientIds.emplace(oldId, dummy).first->second;
}

std::optional<std::string> UidMap::find(const std::string& oldUid) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_map.find(oldUid);
    return it == m_map.end() ? std::nullopt : std::optional<std::string>(it->second);
}

void UidMap::restore(const Entry& entry)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (entry.kind == Entry::Kind::Uid) {
        m_map[entry.original] = entry.replacement;
    } else {
        m_patientIds[entry.original] = entry.replacement;
        m_patientDummies.insert(entry.replacement);
    }
}

std::vector<UidMap::Entry> UidMap::takeNewEntries()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_new, {});
}

std::vector<UidMap::Entry> UidMap::entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Entry> result;
    result.reserve(m_map.size() + m_patientIds.size());
    for (const auto& [original, replacement] : m_map)
        result.push_back({Entry::Kind::Uid, original, replacement});
    for (const auto& [original, replacement] : m_patientIds)
        result.push_back({Entry::Kind::PatientId, original, replacement});
    return result;
}

size_t UidMap::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_map.size();
}

void UidMap::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_map.clear();
    m_patientIds.clear();
    m_patientDummies.clear();
    m_new.clear();
}

}  // namespace Dravelin::Dicom
