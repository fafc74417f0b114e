#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace Dravelin {

// Writes a file whole or not at all.
//
// The bytes go to a temporary of fixed, short name in the target's folder (so that a target
// name at the file system's limit still works, and the rename never crosses file systems).
// Every write is checked, the data is synced and the close checked before the temporary is
// renamed over the target, and the folder is synced after. Any failure removes the temporary
// and leaves the target as it was; errorString() then names the target and the system's reason
// ("No space left on device"). A replaced file keeps its permission bits. After a failure,
// further writes are ignored and commit() returns false. One thread at a time; never throws.
class AtomicFile
{
public:
    explicit AtomicFile(QString target);
    ~AtomicFile();  // removes an uncommitted temporary
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary. The target's folder must exist.
    bool open();
    bool write(const void* data, std::size_t size);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), static_cast<std::size_t>(bytes.size())); }
    // Syncs, closes and renames the temporary to the target.
    bool commit();
    // Drops the temporary, e.g. when the caller's own encoding failed; `reason` becomes the error.
    void discard(const QString& reason = QString());

    const QString& target() const { return m_target; }
    bool failed() const { return !m_reason.isEmpty(); }
    // The system's reason for the first failure; empty while there is none.
    const QString& reason() const { return m_reason; }
    // "Cannot write 'TARGET': REASON".
    QString errorString() const;

    // Writes `bytes` to `target` as above; false with `error` set to errorString().
    static bool writeWhole(const QString& target, const QByteArray& bytes, QString* error = nullptr);

    // The names of the temporaries: ".dravelin-" + 12 characters + ".part".
    static QString temporaryName();

private:
    bool fail(int error);
    void removeTemporary();

    QString m_target;
    QByteArray m_temporary;
    int m_fd = -1;
    QString m_reason;
    bool m_committed = false;
};

}  // namespace Dravelin
