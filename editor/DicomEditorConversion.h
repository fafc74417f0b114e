#pragma once

#include "host/core/Url.h"
#include "host/dicom/deid/DeidentificationProfiles.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin {

class Progress;

namespace Dicom {
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
// - Sources are read through a dataset cache and copied before they are changed: neither the
//   cache nor the input files are modified, unless output and input are the same folder (in
//   place). In place, each file is replaced by its de-identified copy with the same permission
//   bits, and a symbolic link is written through: its target gets the copy, the link stays.
// - A DICOMDIR (a dataset with directory records) is left out and logged: its offsets would not
//   survive the changes. Left-out files are counted apart from failures.
// - An image with burned-in annotation (text in its pixels, which is not removed) is written
//   with PatientIdentityRemoved "NO", or left out with setSkipBurnedIn; either way it is logged
//   by path and listed in the summary.
// - A dataset without SOP Class UID keeps the media storage SOP class of its source's file meta.
// - One UidMap serves the whole run, so references between the written instances hold and each
//   original Patient ID gets one dummy.
// - Per-file problems are logged (level 4, "DICOM") and counted; the other files go on.
// - Files are converted on several threads. Progress is reported one value at a time, in
//   increasing order, and a cancel request stops every thread after the file in hand.
class DicomEditorConversion
{
public:
    struct Summary
    {
        int locations = 0;  // image locations handled (all, unless cancelled)
        int written = 0;    // files written
        int failed = 0;     // files (or unreadable locations) that were not written
        int leftOut = 0;    // DICOMDIRs, not written on purpose
        bool cancelled = false;
        double seconds = 0;
        // Files with burned-in annotation, sorted: left out (counted in leftOut) when skipped,
        // else written.
        QStringList burnedIn;
        bool complete() const { return failed == 0; }
        // "" when complete, else "Not all files could be saved. See log for details".
        QString message() const;
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

    // True when output and input are the same folder.
    bool inPlace() const { return m_inPlace; }

    // Converts every dataset of every location, in order of the list. Never throws.
    Summary run(const std::vector<Filesystem::Url>& locations, Progress* progress = nullptr);

    // Why writing `output` from `input` must not start (empty when it may), so that no run
    // destroys or mixes up originals: OUTPUT equal to INPUT needs `inPlace`, OUTPUT inside INPUT
    // is refused, a non-empty OUTPUT needs `overwrite`, `inPlace` needs OUTPUT equal to INPUT.
    static QString folderProblem(const QString& input, const QString& output, bool inPlace, bool overwrite);

    // The image locations of the series, series by series in image order.
    static std::vector<Filesystem::Url> locationsOf(const std::vector<const Dicom::Series*>& series);

    const Dicom::UidMap& uids() const;

private:
    struct Counters;
    struct Pending;
    void convertLocation(const Filesystem::Url& location, Counters& counters, Pending& pending) const;
    enum class Outcome { Added, Failed, LeftOut };
    Outcome convertDataset(const DcmDataset& source, const std::string& fileName, Pending& pending) const;
    // Notes and logs a file with burned-in annotation; false when it is to be left out.
    bool acceptBurnedIn(const QString& fileName) const;
    bool write(DcmDataset* dataset, const std::string& sourceFile, QString target, Pending& pending) const;
    static void commit(Pending& pending, Counters& counters);

    QString m_input;
    QString m_output;
    Dicom::DeidentificationActionTable m_table;
    bool m_keepPrivateTags;
    bool m_inPlace = false;
    std::shared_ptr<Dicom::DatasetCache> m_cache;
    std::shared_ptr<Dicom::UidMap> m_uids;
    int m_threads = 0;
    bool m_skipBurnedIn = false;
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace Dravelin
