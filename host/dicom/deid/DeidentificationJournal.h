#pragma once

#include "host/dicom/deid/UidMap.h"

#include <QSet>
#include <QString>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Dravelin::Dicom {

// What a de-identification run into a folder has done so far, kept in that folder (mode 0600)
// until the run finishes, so that a run stopped by Ctrl-C, a full disk or a crash can be finished
// later with the same new UIDs and Patient IDs, skipping the files it already wrote. Without it
// a second run would give the rest of the files new identifiers (one patient becomes two) and,
// in place, de-identify the finished files again.
//
// A text file of one record per line, appended to, never rewritten; values percent-encoded:
//   setting NAME VALUE   what the run was started with (input, profile...); a resume must match
//   uid OLD NEW / patient OLD NEW   the mapping, recorded before any file that uses it is renamed
//   pending PATH SOP-UID   a file about to be renamed into place, with its new SOP Instance UID
//   done PATH   a file in place (its rename reached the disk)
// A line cut short by a crash is dropped when the journal is resumed. A file that is pending but
// not done was renamed or not: the caller tells by the SOP Instance UID the target holds.
//
// Appending is for one thread at a time; the look-ups read only what was loaded at resume.
class DeidentificationJournal
{
public:
    // What the run was started with, name and value, in a fixed order.
    using Settings = std::vector<std::pair<QString, QString>>;

    // "UNFINISHED-DEIDENTIFICATION.journal": it says what it is in a folder listing.
    static QString fileName();
    static QString pathIn(const QString& folder);
    static bool existsIn(const QString& folder);

    // A new journal in `folder` (created when missing); nullptr with `error` set when it cannot
    // be written or one is there already.
    static std::unique_ptr<DeidentificationJournal> create(const QString& folder, const Settings& settings,
                                                           QString* error);
    // The unfinished journal of `folder`: its mapping goes into `uids`. nullptr with `error` set
    // when there is none, it cannot be read, or it was started with other settings.
    static std::unique_ptr<DeidentificationJournal> resume(const QString& folder, const Settings& settings,
                                                           UidMap& uids, QString* error);
    ~DeidentificationJournal();
    DeidentificationJournal(const DeidentificationJournal&) = delete;
    DeidentificationJournal& operator=(const DeidentificationJournal&) = delete;

    // Paths relative to the run's output (or input) folder, as the caller records them.
    bool isDone(const QString& path) const { return m_done.contains(path); }
    // The SOP Instance UID recorded for a file that was pending when the run stopped ("" if none).
    std::string pendingUid(const QString& path) const;
    int doneCount() const { return m_done.size(); }

    // Appends the mapping chosen since the last call and the files about to be renamed. The
    // caller makes the journal durable (descriptor()) before the renames. False with `error`
    // when the append failed: then nothing of it stays in the journal, and the mapping is
    // appended with the next call.
    bool recordPending(const std::vector<std::pair<QString, std::string>>& files, UidMap& uids, QString* error);
    // Appends the files now in place. A failure costs nothing but a check on resume.
    void recordDone(const std::vector<QString>& files);
    int descriptor() const { return m_fd; }

    // The run finished: the journal goes. False when it could not be removed.
    bool remove();

    // Writes the whole mapping, for re-linking later data, to `file` (mode 0600, whole or not at
    // all). False with `error` on failure.
    static bool writeMapping(const UidMap& uids, const QString& file, QString* error);

private:
    DeidentificationJournal(int fd, QString path, long long size);
    bool append(const QByteArray& text, QString* error);

    int m_fd;
    QString m_path;
    long long m_size;  // of what was appended whole
    std::vector<UidMap::Entry> m_unwritten;
    QSet<QString> m_done;
    std::map<QString, std::string> m_pending;
};

}  // namespace Dravelin::Dicom
