#pragma once

#include "host/core/Url.h"
#include "host/dicom/deid/DeidentificationProfiles.h"

#include <QString>
#include <QStringList>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin {

class Progress;

namespace Dicom {
class BurnedInTextRemoval;
class DatasetCache;
class Series;
class UidMap;
}  // namespace Dicom

// Writes de-identified copies of DICOM files into an output folder, each at the path it has
// relative to the input folder.
//
// - Every file is written whole or not at all (Dicom::DicomFileWriter::Batch: checked writes,
//   data synced before the rename); a failed write counts as a failure and leaves no file behind.
//   Files are made durable in batches by a thread of their own, so converting never waits for
//   the disk and the disk is waited for once per batch. Temporaries that an
//   interrupted run left in the output folder are removed when a run starts.
// - Sources are read through a dataset cache, which hands out copies of its own: neither the
//   cache nor the input files are modified, unless output and input are the same folder (in
//   place). In place, each file is replaced by its de-identified copy with the same permission
//   bits, and a symbolic link is written through: its target gets the copy, the link stays.
// - A DICOMDIR (a dataset with directory records) is left out and logged: its offsets would not
//   survive the changes. Left-out files are counted apart from failures.
// - With setPixelCleaning, text burned into the pixels is removed first (rules, detection); an
//   image so cleaned is written with Burned In Annotation "NO" and the Clean Pixel Data Option.
//   An image with burned-in annotation that was not cleaned is written with
//   PatientIdentityRemoved "NO", or left out with setSkipBurnedIn; either way it is logged by path
//   and listed in the summary.
// - A dataset without SOP Class UID keeps the media storage SOP class of its source's file meta.
// - One UidMap serves the whole run, so references between the written instances hold and each
//   original Patient ID gets one dummy.
// - A journal in the output folder (Dicom::DeidentificationJournal) holds the mapping and the
//   files written while the run is unfinished: a run stopped by a cancel, a crash or a failure
//   (other than an input file that is not DICOM) is finished by a run started with `resume`,
//   which keeps the mapping and skips the files already written. A run that finishes otherwise
//   removes the journal, after writing the mapping to the file given to setKeepMapping(). A run
//   never starts over an unfinished one.
// - Two files with the same SOP Instance UID are named in a warning: they get the same new one.
// - Per-file problems are logged (level 4, "DICOM") and counted; the other files go on.
// - Files are converted on several threads. Progress is reported one value at a time, in
//   increasing order, and a cancel request stops every thread after the file in hand.
class DicomEditorConversion
{
public:
    struct Summary
    {
        int locations = 0;      // image locations handled (all, unless cancelled)
        int written = 0;        // files written
        int failed = 0;         // files (or unreadable locations) that were not written
        int notDicom = 0;       // of those, files that are no DICOM files: a resume would not help
        int leftOut = 0;        // DICOMDIRs, not written on purpose
        int writtenBefore = 0;  // skipped, as the unfinished run being resumed wrote them
        bool cancelled = false;
        bool journalKept = false;  // the run is unfinished: its journal stays for a resume
        QString error;             // why nothing could be written (the journal), "" otherwise
        double seconds = 0;
        // Files with burned-in annotation, sorted: left out (counted in leftOut) when skipped,
        // else written.
        QStringList burnedIn;
        int cleaned = 0;       // files written with their burned-in text removed
        int cleanedBoxes = 0;  // the boxes blacked out in them
        bool complete() const { return failed == 0 && error.isEmpty(); }
        // "" when complete, else "Not all files could be saved. See log for details".
        QString message() const;
        // What the run did, for the user: "40 files written to /x/y", then what failed, was
        // left out or was cancelled ("; 2 failed (see the log); 1 left out").
        QString outcome(const QString& outputFolder) const;
        // "12 files cleaned of burned-in text (31 boxes)", "" when none was.
        QString cleanedText() const;
    };

    DicomEditorConversion(QString inputFolder, QString outputFolder, Dicom::DeidentificationActionTable table,
                          bool keepPrivateTags, std::shared_ptr<Dicom::DatasetCache> cache = nullptr);
    ~DicomEditorConversion();
    DicomEditorConversion(const DicomEditorConversion&) = delete;
    DicomEditorConversion& operator=(const DicomEditorConversion&) = delete;

    // Worker threads; 0 (default) uses every core.
    void setThreadCount(int threads) { m_threads = threads; }

    // The profile's name, for DeidentificationMethod when the table is not a preset.
    void setProfileName(const QString& name);

    // Leave images with burned-in annotation out instead of writing them.
    void setSkipBurnedIn(bool skip) { m_skipBurnedIn = skip; }

    // Removes burned-in text before de-identifying; `description` ("auto", the rules' file...)
    // goes into the journal, so that a resumed run cleans the same way. Null: pixels untouched.
    void setPixelCleaning(std::shared_ptr<const Dicom::BurnedInTextRemoval> removal, const QString& description);

    // True when output and input are the same folder.
    bool inPlace() const { return m_inPlace; }

    // Where the finished run writes its mapping (original to new UIDs and Patient IDs) for
    // re-linking later data; empty (default): the mapping goes with the journal.
    void setKeepMapping(const QString& file) { m_keepMapping = file; }

    // True when `output` holds the journal of an unfinished run.
    static bool hasUnfinishedRun(const QString& output);

    // Starts the journal before run(): a new one, or with `resume` the unfinished one of the
    // output folder, whose mapping and finished files the run takes over (it must have been
    // started with the same input, profile and private-tag choice). Returns why it cannot (then
    // run() writes nothing), "" on success. run() starts a new journal itself when none is.
    QString start(bool resume);

    // Converts every dataset of every location, in order of the list. Never throws.
    Summary run(const std::vector<Filesystem::Url>& locations, Progress* progress = nullptr);

    // Why writing `output` from `input` must not start (empty when it may), so that no run
    // destroys or mixes up originals: OUTPUT equal to INPUT needs `inPlace`, OUTPUT inside INPUT
    // is refused, a non-empty OUTPUT needs `overwrite`, `inPlace` needs OUTPUT equal to INPUT.
    static QString folderProblem(const QString& input, const QString& output, bool inPlace, bool overwrite);

    // The image locations of the series, series by series in image order.
    static std::vector<Filesystem::Url> locationsOf(const std::vector<const Dicom::Series*>& series);

    const Dicom::UidMap& uids() const;
    Dicom::UidMap& uids();

private:
    struct Counters;
    struct Pending;
    void convertLocation(const Filesystem::Url& location, Counters& counters, Pending& pending) const;
    bool writtenBefore(const QString& relativePath) const;
    // QDir::mkpath, once per folder and run.
    bool makeFolder(const QString& folder) const;
    enum class Outcome { Added, Failed, LeftOut };
    Outcome convertDataset(DcmDataset& source, const std::string& fileName, Pending& pending) const;
    // Notes and logs a file with burned-in annotation; false when it is to be left out.
    bool acceptBurnedIn(const QString& fileName) const;
    bool write(DcmDataset* dataset, const std::string& sourceFile, QString target, Pending& pending,
               E_TransferSyntax xfer) const;
    void commit(Pending& pending, Counters& counters);
    void finishJournal(Summary& summary);
    void warnOfSharedInstanceUid(DcmDataset& source, const std::string& fileName) const;

    QString m_input;
    QString m_output;
    Dicom::DeidentificationActionTable m_table;
    bool m_keepPrivateTags;
    bool m_inPlace = false;
    QString m_profileName;
    QString m_keepMapping;
    std::shared_ptr<Dicom::DatasetCache> m_cache;
    std::shared_ptr<Dicom::UidMap> m_uids;
    int m_threads = 0;
    bool m_skipBurnedIn = false;
    std::shared_ptr<const Dicom::BurnedInTextRemoval> m_pixelCleaning;
    QString m_pixelCleaningDescription;
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace Dravelin
