#pragma once

#include "scanning/FolderListing.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <mutex>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin {
class DicomPacsCommunication;
}
namespace Dravelin::Filesystem {
class Url;
}
namespace Dravelin::Network {
struct HttpError;
}

namespace Dravelin::Dicom {

class DatasetCache;
class Patient;
class PacsSeriesProxy;
class TreeMerger;

// Fills patient / study / series / image trees from folders and DICOMDIR files.
//
// The scan operations block the calling thread. Trees go through the virtual addPatient (which
// merges them into the patient list here) and progress through the two progress hooks, so a
// subclass can forward both elsewhere. Nothing thrown by the parsing of one file leaves a scan.
class Scanner
{
public:
    explicit Scanner(std::shared_ptr<DatasetCache> cache);
    virtual ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // A null cache is replaced by a new default one.
    void setDatasetCache(std::shared_ptr<DatasetCache> cache);
    std::shared_ptr<DatasetCache> datasetCache() const;

    // Values below 1 are stored as 1.
    void setNumberOfThreads(int n);
    int numberOfThreads() const;

    // Whether a folder scan reads simple headers itself (the default) rather than through the
    // dataset cache; the records are the same either way.
    void setReadsHeadersDirectly(bool on) { m_readsHeadersDirectly = on; }

    // Asks the running scan to stop; returns at once.
    void cancel();

    // Read access without the lock: only while no scan runs.
    const std::vector<Patient*>& patients() const;
    // Moves every patient out (same order) and empties the list, under the lock.
    std::vector<std::unique_ptr<Patient>> takePatients();

    void scanDirectory(const QString& directory, bool recursive, bool useDicomdirOnly, bool checkDicomHeader);
    // Scans exactly these files (absolute paths), in this order, as a folder scan scans its own.
    void scanFiles(const QStringList& files, bool checkDicomHeader);

    // Why a file of a folder scan gave no record.
    enum class SkipReason {
        NotDicom,     // no DICOM file header (or, unchecked, nothing DICOM could read)
        Truncated,    // a DICOM file header, but the data ends before its elements do
        Unreadable,   // cannot be opened
        TooDeep,      // sequences nested deeper than the readers allow (StructureLimits)
        DeflateBomb,  // deflated data that inflates past the readers' limit (StructureLimits)
    };
    using SkippedFileHandler = std::function<void(const QString& path, SkipReason reason)>;
    // Told of every file a folder scan leaves out; called on the scan's worker threads.
    void setSkippedFileHandler(SkippedFileHandler handler) { m_skippedFileHandler = std::move(handler); }
    // The files of `dir` in natural path order (img2 before img10). In DICOMDIR mode a folder
    // contributes only its DICOMDIR, or the DICOMDIRs below it. Folders reached twice (through
    // symbolic links) are listed once.
    QList<QFileInfo> retrieveFileList(const QDir& dir, bool recursive, bool useDicomdirOnly, int depth);

    void scanDicomDir(const QString& dicomDirFile);
    void scanDicomDirImpl(const QString& path, bool reportProgress);

    // Searches a DICOMweb server (QIDO-RS studies, series, instances on a pool of
    // numberOfThreads() threads); nothing but metadata is downloaded. The first HTTP error
    // recorded, or nothing when every request succeeded. Not stopped by cancel().
    std::optional<Network::HttpError> scanWeb(const Filesystem::Url& url);

    // Takes ownership.
    virtual void addPatient(Patient* patient);
    virtual void removePacsProxy(PacsSeriesProxy* proxy);

    // PACS: a study-level C-FIND gives studies with a placeholder for their series;
    // scanPacsSeries resolves one placeholder with series- and image-level queries.
    // The connection is not owned.
    void setPacs(DicomPacsCommunication* pacs);
    void scanPacs(const QString& patientNameFilter, const QString& studyFilter);
    void scanPacs(const DcmDataset& query);
    void scanPacsSeries(PacsSeriesProxy* proxy);

    // 3/4 of OpenMP's maximum thread count m (integer division) when 3m >= 8, else 1.
    static int defaultNumberOfThreads();
    static int defaultNumberOfThreads(int maxThreads);

protected:
    // Called from worker threads too.
    virtual void updateProgress(int value, int maximum);
    virtual void updateProgressText(const std::string& text);
    // Appends a patient to the list unmerged, under the lock.
    void queuePatient(Patient* patient);

private:
    void scanListed(const FolderListing::Files& files, bool checkDicomHeader);
    struct ScanState;
    FolderListing listing();
    void scanFile(const char* path, std::size_t nameStart, bool checkDicomHeader, std::uint32_t order,
                  ScanState& state);
    void collect(std::unique_ptr<Patient> patient, ScanState& state);
    void flush(ScanState& state);
    // The chain of a file whose header RawHeader reads, or null to leave the file to DCMTK
    // (or to skip it, when `truncated` is set).
    std::unique_ptr<Patient> readHeader(const std::string& path, const std::vector<char>& head, std::size_t fileSize,
                                        ScanState& state, bool& truncated);
    // Reads one DICOMDIR without touching the cancel flag (also used inside a folder scan,
    // where clearing the flag would undo a cancel).
    void readDicomDir(const QString& path, bool reportProgress);

    std::shared_ptr<DatasetCache> m_cache;
    std::atomic<bool> m_cancel{false};
    DicomPacsCommunication* m_pacs = nullptr;
    int m_numberOfThreads = 1;
    mutable std::mutex m_mutex;
    std::vector<Patient*> m_patients;
    // Merges what addPatient() brings; the estimates wait for the next reader of the tree.
    mutable std::unique_ptr<TreeMerger> m_merger;
    SkippedFileHandler m_skippedFileHandler;
    bool m_readsHeadersDirectly = true;
};

}  // namespace Dravelin::Dicom
