#pragma once

#include "scanning/Image.h"
#include "scanning/PacsSeriesProxy.h"
#include "scanning/Patient.h"
#include "scanning/Series.h"
#include "scanning/SkippedFiles.h"
#include "scanning/Study.h"
#include "host/core/Url.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/network/HttpStatus.h"

#include <QAbstractItemModel>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class DcmDataset;

namespace Dravelin {

class DicomPacsCommunication;

namespace Dicom {
class DatasetCache;
class ScannerQt;
}  // namespace Dicom

// The study tree as an item model: patients, studies, series, images, and one placeholder row
// ("...") under a study whose series are still on a PACS. Column 0 is the tree (with a series'
// thumbnail, once one was made), column 1 a series' image count. Patient, study and series rows
// are checkable (series hold the state, studies and patients roll it up). The model owns the
// tree; every change happens on the thread that owns the model.
//
// The model also drives the scanners: one scan at a time on a worker thread, whose patients
// are merged here as they arrive; PACS placeholders resolved on demand; an optional exact
// dimension update of every series after a scan; and the location string the host's loader
// reads for a selection of series.
class DicomBrowserModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Roles {
        PropertiesRole = Qt::UserRole + 1,  // ParameterList
        SortRole,                           // text or QDateTime
        PatientRole,
        StudyRole,
        SeriesRole,
        ImageRole,
        PacsSeriesProxyRole,
    };

    enum Columns {
        TreeColumn = 0,
        ImageCountColumn = 1,  // series rows: the number of images
        ColumnCount
    };

    using ParameterList = QList<QPair<QString, QString>>;

    DicomBrowserModel(std::shared_ptr<Dicom::DatasetCache> cache, QObject* parent = nullptr);
    // Builds one chain per dataset (located at the matching path) and merges them.
    DicomBrowserModel(const std::vector<std::shared_ptr<DcmDataset>>& datasets,
                      const std::vector<std::string>& datasetPaths, std::shared_ptr<Dicom::DatasetCache> cache,
                      QObject* parent = nullptr);
    ~DicomBrowserModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    static Dicom::Patient* toPatient(const QModelIndex& index);
    static Dicom::Study* toStudy(const QModelIndex& index);
    static Dicom::Series* toSeries(const QModelIndex& index);
    static Dicom::Image* toImage(const QModelIndex& index);
    static Dicom::PacsSeriesProxy* toPacsSeriesPlaceholder(const QModelIndex& index);

    QModelIndex index(Dicom::Patient* patient) const;
    QModelIndex index(Dicom::Study* study) const;
    QModelIndex index(Dicom::Series* series) const;
    QModelIndex index(Dicom::PacsSeriesProxy* proxy) const;

    static Qt::CheckState isChecked(Dicom::Study* study);
    static Qt::CheckState isChecked(Dicom::Patient* patient);

    const std::vector<Dicom::Patient*>& patients() const { return m_patients; }
    // Hands every patient to the caller, who owns them from then on; the model is left empty.
    std::vector<Dicom::Patient*> takePatients();
    // Every checked series in patient, study, series order.
    QList<Dicom::Series*> selectedSeries() const;

    // The small picture of a series row (its Qt::DecorationRole). A null image records that the
    // series has none (it could not be decoded), so that nobody asks again.
    void setSeriesThumbnail(const QModelIndex& series, const QImage& thumbnail);
    bool hasSeriesThumbnail(const Dicom::Series* series) const { return m_thumbnails.count(series) > 0; }

    std::shared_ptr<Dicom::DatasetCache> datasetCache() const { return m_datasetCache; }
    // A null cache is replaced by a new one of capacity 2048.
    void setDatasetCache(std::shared_ptr<Dicom::DatasetCache> cache);

    void setUpdateSeriesDimensionsAfterScan(bool update) { m_updateSeriesDimensionsAfterScan = update; }
    bool isUpdatingSeriesDimensionsAfterScan() const { return m_updateSeriesDimensionsAfterScan; }

    using ScanFunction = std::function<void(Dicom::ScannerQt&)>;
    // Runs `scan` against a fresh scanner on a worker thread (`pacs`, when given, is copied
    // into the connection the scanner uses). Ignored, with a logged error, while busy.
    void scanAsync(DicomPacsConfiguration* pacs, ScanFunction scan);
    // The same on the calling thread, merging at the end; no progress signals.
    void scanBlocking(DicomPacsConfiguration* pacs, ScanFunction scan);
    bool scanCompleted() const { return !isScanningNow(); }
    // Replaces the estimated dimensions of every series by the loader's, on a worker thread.
    void updateSeriesDimensionsAsync();

    // The text the host's DICOM loader reads for these series: one location per series,
    // "##" between them. Series without images (and web series whose image locations name
    // no instance) contribute nothing.
    static std::string retrieveLocationString(const std::vector<Dicom::Series*>& series, bool checkDicomHeader);

Q_SIGNALS:
    void scanProgressRangeChanged(int min, int max);
    void scanProgressValueChanged(int value);
    void scanProgressTextChanged(QString text);
    void isScanningChanged(bool isScanning);
    // Emitted from the scan thread for asynchronous web scans.
    void scanHttpError(QString message, Dravelin::Network::HttpStatus status);

public Q_SLOTS:
    // Takes ownership; merges into an existing patient (same ID and name) when there is one.
    void addPatient(Dravelin::Dicom::Patient* patient);
    void remove(Dravelin::Dicom::PacsSeriesProxy* psp);
    void scanDirectoryAsync(QString directory, bool recursive, bool useDicomdirOnly, bool checkDicomHeader);
    void scanDirectoryBlocking(QString directory, bool recursive, bool useDicomdirOnly, bool checkDicomHeader);
    void scanDicomDirAsync(QString dicomDirFile);
    void scanDicomDirBlocking(QString dicomDirFile);
    void scanWebAsync(Dravelin::Filesystem::Url url);
    void scanWebBlocking(Dravelin::Filesystem::Url url);
    void scanPacsAsync(Dravelin::DicomPacsConfiguration pacs, QString patientNameFilter, QString studyFilter);
    void scanPacsBlocking(Dravelin::DicomPacsConfiguration pacs, QString patientNameFilter, QString studyFilter);
    void getPacsSeriesAsync(Dravelin::Dicom::PacsSeriesProxy* pcp);
    void getPacsSeriesBlocking(Dravelin::Dicom::PacsSeriesProxy* pcp);
    // True when the scan, the dimension update and every placeholder retrieval have stopped.
    bool cancelScan(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    bool isScanning() const { return isScanningNow(); }
    // The files the last folder scan left out, with their reasons.
    const Dicom::SkippedFiles& skippedFiles() const { return m_skipped; }
    void clear();

private Q_SLOTS:
    void processPatientsFromMainthread();

private:
    class Merger;
    friend class Merger;

    static void registerMetaTypes();
    int rowOf(const Dicom::Patient* patient) const;
    bool isScanningNow() const { return m_scanning.load(); }
    bool isBusy() const;
    // Steps shared by both scan forms: a fresh scanner and connection, scanning on.
    void startScan(DicomPacsConfiguration* pacs, bool withErrorHandler);
    // Runs a scan function, logging what it throws.
    static void runGuarded(const ScanFunction& scan, Dicom::ScannerQt& scanner);
    void takeScannedPatients();
    // Merges taken patients until the budget (ms, negative: none) is used; true when none is left.
    bool mergePending(int budgetMs);
    void mergeScannedPatients();
    void finishScanning();
    void stopDimensionUpdate();
    std::vector<Dicom::Series*> allSeries() const;

    std::shared_ptr<Dicom::DatasetCache> m_datasetCache;
    std::vector<Dicom::Patient*> m_patients;                        // owned
    std::unordered_map<const Dicom::Series*, QImage> m_thumbnails;  // emptied with the tree
    bool m_updateSeriesDimensionsAfterScan = false;

    std::unique_ptr<Dicom::ScannerQt> m_scanner;
    // Written by the GUI thread and, when a dimension update ends, by its thread.
    std::atomic<bool> m_scanning{false};
    Dicom::SkippedFiles m_skipped;  // by the last folder scan, filled from its workers
    std::future<void> m_scanFuture;
    std::atomic<bool> m_scannerIdle{true};
    std::vector<std::future<void>> m_retrievalFutures;
    std::atomic<int> m_pendingRetrievals{0};
    std::future<void> m_dimensionFuture;
    std::atomic<bool> m_dimensionsStopped{true};
    // Bumped (GUI thread) when the tree is cleared: results still queued for it are dropped.
    unsigned m_dimensionGeneration = 0;
    std::unique_ptr<DicomPacsCommunication> m_pacsConnection;
    // Set while cancelScan merges what a stopped scan left, so that no dimension update starts.
    bool m_cancelling = false;
    // Taken from the scanner, not merged yet (merging is sliced to keep the event loop moving).
    std::deque<std::unique_ptr<Dicom::Patient>> m_pendingPatients;
    bool m_mergeQueued = false;
    static constexpr int mergeSliceMs = 8;
    // Reports of the scan worker, picked up by a pump on the GUI thread (see scanAsync).
    void emitScanProgress();
    void pumpScanReports(const Dicom::ScannerQt* scanner);
    static constexpr int reportIntervalMs = 50;
    std::atomic<bool> m_patientsPosted{false};
    std::atomic<int> m_progressMaximum{-1};
    std::atomic<int> m_progressValue{-1};
    int m_emittedProgressMaximum = -1;  // GUI thread only
    int m_emittedProgressValue = -1;    // GUI thread only
};

}  // namespace Dravelin

Q_DECLARE_METATYPE(Dravelin::DicomBrowserModel::ParameterList)
Q_DECLARE_METATYPE(Dravelin::Dicom::Patient*)
Q_DECLARE_METATYPE(Dravelin::Dicom::Study*)
Q_DECLARE_METATYPE(Dravelin::Dicom::Series*)
Q_DECLARE_METATYPE(Dravelin::Dicom::Image*)
Q_DECLARE_METATYPE(Dravelin::Dicom::PacsSeriesProxy*)
Q_DECLARE_METATYPE(Dravelin::Network::HttpStatus)
Q_DECLARE_METATYPE(Dravelin::DicomPacsConfiguration)
