#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Dravelin::Dicom {

// Replacement UIDs for one de-identification run: the same old UID always gets the same new
// one, so references between the instances of the run stay intact. New UIDs are random
// ("2.25." + a 128-bit random number), so they cannot be traced back to the old ones.
// Thread-safe.
class UidMap
{
public:
    // One pair of the map: an original UID or Patient ID and what replaces it.
    struct Entry
    {
        enum class Kind { Uid, PatientId };
        Kind kind;
        std::string original;
        std::string replacement;
        bool operator==(const Entry& o) const
        {
            return kind == o.kind && original == o.original && replacement == o.replacement;
        }
    };

    std::string replacement(const std::string& oldUid);
    static std::string generate();

    // The dummy Patient ID of an original one: "ANON" + 12 random base-36 characters, distinct
    // from every other dummy of the run, so distinct patients stay distinct (and unrelated to
    // the dummies of other runs).
    std::string patientId(const std::string& oldId);

    // The replacement already chosen for `oldUid`, without choosing one.
    std::optional<std::string> find(const std::string& oldUid) const;

    // Puts back a pair chosen by an earlier part of the same run (a resumed run). Not logged.
    void restore(const Entry& entry);
    // The pairs chosen since the last call, in the order they were chosen, so that a run can
    // record them before any file that uses them is in place.
    std::vector<Entry> takeNewEntries();
    // Every pair, UIDs first.
    std::vector<Entry> entries() const;

    size_t size() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, std::string> m_map;
    std::unordered_map<std::string, std::string> m_patientIds;
    std::unordered_set<std::string> m_patientDummies;
    std::vector<Entry> m_new;
};

}  // namespace Dravelin::Dicom
