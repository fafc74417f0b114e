#pragma once

#include "host/core/Url.h"
#include "host/dicom/DeidentificationProfiles.h"

#include <QString>

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
// - Every file is written under a temporary name in its target folder and renamed when
//   complete, so a crash or a full disk never leaves a half-written file at the target path.
// - Sources are read through a dataset cache and copied before they are changed: neither the
//   cache nor the input files are modified (unless output and input are the same folder, where
//   each file is replaced by its de-identified copy).
// - One UidMap serves the whole run, so references between the written instances hold.
// - Per-file problems are logged (level 4, "DICOM") and counted; the other files go on.
// - Files are converted on several threads; progress advances per location and a cancel
//   request stops after the locations already started.
class DicomEditorConversion
{
public:
    struct Summary
    {
        int locations = 0;  // image locations handled (all, unless cancelled)
        int written = 0;    // files written
        int failed = 0;     // files (or unreadable locations) that were not written
        bool cancelled = false;
        double seconds = 0;
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

    // Converts every dataset of every location, in order of the list. Never throws.
    Summary run(const std::vector<Filesystem::Url>& locations, Progress* progress = nullptr);

    // The image locations of the series, series by series in image order.
    static std::vector<Filesystem::Url> locationsOf(const std::vector<const Dicom::Series*>& series);

    const Dicom::UidMap& uids() const;

private:
    struct Counters;
    void convertLocation(const Filesystem::Url& location, Counters& counters) const;
    bool convertDataset(const DcmDataset& source, const std::string& fileName) const;
    bool write(DcmDataset* dataset, const QString& target) const;

    QString m_input;
    QString m_output;
    bool m_keepPrivateTags;
    std::shared_ptr<Dicom::DatasetCache> m_cache;
    std::shared_ptr<Dicom::UidMap> m_uids;
    int m_threads = 0;
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace Dravelin
