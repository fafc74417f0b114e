#pragma once

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QCollator;
class QCollatorSortKey;

namespace Dravelin::Dicom {

class DatasetCache;
class Patient;
class PacsSeriesProxy;

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

    // Asks the running scan to stop; returns at once.
    void cancel();

    // Read access without the lock: only while no scan runs.
    const std::vector<Patient*>& patients() const { return m_patients; }
    // Moves every patient out (same order) and empties the list, under the lock.
    std::vector<std::unique_ptr<Patient>> takePatients();

    void scanDirectory(const QString& directory, bool recursive, bool useDicomdirOnly, bool checkDicomHeader);
    // The files of `dir` in natural path order (img2 before img10). In DICOMDIR mode a folder
    // contributes only its DICOMDIR, or the DICOMDIRs below it. Folders reached twice (through
    // symbolic links) are listed once.
    QList<QFileInfo> retrieveFileList(const QDir& dir, bool recursive, bool useDicomdirOnly, int depth);

    void scanDicomDir(const QString& dicomDirFile);
    void scanDicomDirImpl(const QString& path, bool reportProgress);

    // Takes ownership.
    virtual void addPatient(Patient* patient);
    virtual void removePacsProxy(PacsSeriesProxy* proxy);

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
    struct ListedFile;
    void listFolder(const QDir& dir, bool recursive, bool useDicomdirOnly, int depth, QSet<QString>& visited,
                    const QCollator& collator, std::vector<ListedFile>& out);
    void scanFile(const QFileInfo& file, bool checkDicomHeader);
    // Reads one DICOMDIR without touching the cancel flag (also used inside a folder scan,
    // where clearing the flag would undo a cancel).
    void readDicomDir(const QString& path, bool reportProgress);

    std::shared_ptr<DatasetCache> m_cache;
    std::atomic<bool> m_cancel{false};
    int m_numberOfThreads = 1;
    std::mutex m_mutex;
    std::vector<Patient*> m_patients;
};

}  // namespace Dravelin::Dicom
