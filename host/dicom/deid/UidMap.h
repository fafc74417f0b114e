#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace Dravelin::Dicom {

// Replacement UIDs for one de-identification run: the same old UID always gets the same new
// one, so references between the instances of the run stay intact. New UIDs are random
// ("2.25." + a 128-bit random number), so they cannot be traced back to the old ones.
// Thread-safe.
class UidMap
{
public:
    std::string replacement(const std::string& oldUid);
    static std::string generate();

    // The dummy Patient ID of an original one: "ANON" + 12 random base-36 characters, distinct
    // from every other dummy of the run, so distinct patients stay distinct (and unrelated to
    // the dummies of other runs).
    std::string patientId(const std::string& oldId);

    size_t size() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, std::string> m_map;
    std::unordered_map<std::string, std::string> m_patientIds;
    std::unordered_set<std::string> m_patientDummies;
};

}  // namespace Dravelin::Dicom
