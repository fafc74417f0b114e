#pragma once

#include <QString>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmdata/dctypes.h>

#include <string>
#include <vector>

class DcmFileFormat;

namespace Dravelin::Dicom {

// Writes DICOM files whole or not at all.
//
// The file is written under a temporary name of fixed length in the target's folder (so a long
// target name never makes it pass the file system's limit), every write and the close are
// checked, the data reaches the disk (fsync) before the temporary is renamed to the target, and
// on any failure the temporary is removed and the target is left as it was. A replaced file's
// permission bits are kept, and its owner and group where the user may set them. A full disk or
// a file size limit is therefore a reported failure, never a truncated file at the target path.
class DicomFileWriter
{
public:
    // `xfer` EXS_Unknown keeps the dataset's own transfer syntax. False (with `error` set to the
    // reason) on failure. Never throws.
    static bool save(DcmFileFormat& file, const QString& target, E_TransferSyntax xfer, E_FileWriteMode mode,
                     std::string* error);

    // Many files made durable together, so that a run waits for the disk once per batch instead of
    // once per file. `add` writes a checked temporary as `save` does and starts its writeback
    // without waiting; `commit` makes every temporary durable with one syncfs per file system
    // (a small batch: one fdatasync per file), then renames each whole one to its target and
    // syncs each folder it renamed into. A temporary whose write or sync failed is removed and
    // never renamed, so a crash at any point leaves every target either as it was or complete,
    // and a target in place once commit() returns survives a crash. Pending temporaries are
    // removed when a batch is destroyed uncommitted. One batch per thread; never throws.
    class Batch
    {
    public:
        struct Failure
        {
            size_t index;  // in the order of add()
            QString target;
            std::string error;
        };

        Batch() = default;
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

        // False (with `error` set) when the temporary could not be written; nothing is left then.
        bool add(DcmFileFormat& file, const QString& target, E_TransferSyntax xfer, E_FileWriteMode mode,
                 std::string* error);
        size_t size() const { return m_entries.size(); }
        // The targets that could not be written; every other added file is now at its target.
        // `alsoDurable`: open files (a journal) that must reach the disk before the renames too.
        std::vector<Failure> commit(const std::vector<int>& alsoDurable = {});
        // Removes every temporary: none of them is renamed.
        void discard();

    private:
        struct Entry
        {
            int fd;
            QByteArray temporary;
            QByteArray target;
        };
        std::vector<Entry> m_entries;
    };

    // True for the names of the temporaries above: ".dravelin-" + 12 characters + ".part".
    static bool isTemporaryName(const QString& fileName);

    // Removes temporaries that an interrupted run left anywhere below `folder` and returns how
    // many there were.
    static int removeStaleTemporaries(const QString& folder);
};

}  // namespace Dravelin::Dicom
