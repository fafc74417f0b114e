#pragma once

#include "browser/models/DicomBrowserFilterModel.h"
#include "host/app/SettingsWriter.h"
#include "host/network/HttpStatus.h"

#include <QDialog>
#include <QMap>
#include <QModelIndex>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DcmDataset;
class QLineEdit;
class QMovie;
class QStandardItemModel;
class QToolButton;
class Ui_DicomBrowser;

namespace Dravelin {

class DicomBrowserModel;
class LabeledSlider;
class WebCredentials;

namespace Dicom {
struct Error;
class Series;
class DatasetCache;
class DatasetMemoryLoader;
class DatasetPreviewLabel;
}  // namespace Dicom

// The dialog in which the user picks DICOM series to open: a folder, a DICOMDIR, a PACS or a
// DICOMweb server is scanned into the browser model, shown as a filterable tree with a preview,
// properties and tags of the current row, and the checked series become one location string.
// Checked series are loaded into the dataset cache in the background while the user looks on.
class DicomBrowser : public QDialog
{
    Q_OBJECT

public:
    // The indexes of the source tabs.
    enum Tab { DirectoryTab = 0, DicomDirTab = 1, PacsTab = 2, DicomWebTab = 3 };

    // A null filter model makes the dialog create its own.
    DicomBrowser(std::shared_ptr<Dicom::DatasetCache> cache, QWidget* parent = nullptr,
                 std::unique_ptr<DicomBrowserFilterModel> filterModel = nullptr);
    ~DicomBrowser() override;

    // The location string of the chosen series, in the order the tree shows them; empty when
    // nothing usable is chosen.
    std::string selectedSeriesUri() const;
    std::vector<QString> selectedModalities();
    QString formatUrlQuery(const QString& patientName, const QString& studyDescription) const;

    // Opens the dialog on one source: `fix` locks the tabs, `location` pre-fills the source.
    void fixTabWidget(bool fix, int tabIndex, const std::string& location);

    void setCurrentPath(const QString& path);
    QString currentPath() const;

    // Takes over every patient of `other`.
    void setBrowserModel(std::unique_ptr<DicomBrowserModel> other);
    DicomBrowserModel* browserModel() { return m_model; }
    const DicomBrowserModel* browserModel() const { return m_model; }
    DicomBrowserFilterModel* browserFilterModel() { return m_filterModel; }
    const DicomBrowserFilterModel* browserFilterModel() const { return m_filterModel; }

    void setDatasetCache(std::shared_ptr<Dicom::DatasetCache> cache);
    // Not owned; the configuration button is shown exactly when a dialog is set.
    void setConfigDialog(QDialog* dialog);

    bool event(QEvent* event) override;

    // How DICOMweb logins are asked for and kept; by default the application's (the desktop
    // keyring and the login dialog).
    void setWebCredentials(std::shared_ptr<WebCredentials> credentials);

Q_SIGNALS:
    void updateTagsFromDataset(std::shared_ptr<DcmDataset> dataset);
    // Raised on scan threads; shown through a queued connection.
    void dicomScanError(QString title, QString message);

public Q_SLOTS:
    void scan();
    void scanDicomDir();
    void scanWeb();
    void cancelScan();
    void updateOkButton();
    void updateTags();
    void updateStats();
    void loadSeriesIntoMemory(const QModelIndex& index);
    void openContextMenu(const QPoint& location);
    void openConfigDialog();
    void selectAll();
    void selectNone();
    void connectToPacs();
    void updateAvailablePacsServers();
    void onSelectionChanged(const QModelIndex& current, const QModelIndex& previous);
    void updateParameterList();
    void onUpdateTagsFromDataset(std::shared_ptr<DcmDataset> dataset);
    void addModality(const QString& modality);
    void onModalitiesModelChanged();
    void onTabWidgetChanged(int index);
    void onPacsConfigButtonClicked();
    void removeScanErrorHandler();
    void showDicomScanError(QString title, QString message);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void choosePath();
    void chooseDicomDir();
    void onAdvancedQueryToggled(bool checked);
    void onScanHttpError(const QString& message, Network::HttpStatus status);
    void onScanFinished(bool scanning);
    // Shows the configured server of the PACS location `location` (or of none), else the fields
    // of that location's server.
    void showPacsLocation(const std::string& location);
    bool showsPacsFields() const;
    // False when the PACS tab has nothing to scan.
    bool updatePacsScanButton();
    // Scans the DICOMweb address `url` (no user information) with the login known for it.
    void startWebScan(const std::string& url, bool keepCredentials);
    void onModelRowsInserted(const QModelIndex& parent, int first, int last);
    void onFilterRowsInserted(const QModelIndex& parent, int first, int last);
    void rebuildModalities();
    void mirrorModalitiesFilter(const std::vector<QString>& modalities);
    void onMemoryLoaderQueueSizeChanged(int filesLeft);
    void scheduleStatsUpdate();
    void scheduleOkButtonUpdate();
    // The checked series that pass the filters (else the selected series rows), without those
    // that have no images; in the order of the view when asked.
    std::vector<Dicom::Series*> chosenSeries(bool inViewOrder) const;
    void onSavedRawBuffer(const QString& path);
    // False (logged) when a running scan did not stop in time.
    bool stopRunningWork();
    // Takes the preview and the frame slider out of the Info tab and removes every other row.
    void clearInfoTab();
    // Empties and hides the Info and Tags tabs.
    void clearCurrentInfo();
    // Runs on scan threads (through the guard); only emits or sets the atomic flag.
    void onScanError(const Dicom::Error& error);

    Ui_DicomBrowser* m_ui = nullptr;
    bool m_bulkSelecting = false;
    bool m_infoWidthSet = false;
    // A scan's remembered locations and options: written without holding up the scan's start.
    SettingsWriter m_settingsWriter;
    bool m_statsUpdateQueued = false;
    bool m_okUpdateQueued = false;
    DicomBrowserModel* m_model = nullptr;
    DicomBrowserFilterModel* m_filterModel = nullptr;
    QStandardItemModel* m_modalitiesModel = nullptr;
    Dicom::DatasetMemoryLoader* m_memoryLoader = nullptr;
    QDialog* m_configDialog = nullptr;
    QToolButton* m_configButton = nullptr;
    QMap<QString, QLineEdit*> m_parameterFields;
    Dicom::DatasetPreviewLabel* m_previewLabel = nullptr;
    LabeledSlider* m_frameSlider = nullptr;
    std::uint64_t m_scanErrorHandlerId = 0;
    std::atomic<bool> m_searchIncomplete{false};
    QMovie* m_loadingMovie = nullptr;
    QMovie* m_loadingMovieTiny = nullptr;
    QMetaObject::Connection m_modalitiesChangedConnection;
    struct ScanErrorGuard;
    std::shared_ptr<ScanErrorGuard> m_scanErrorGuard;
    std::weak_ptr<Dicom::DatasetCache> m_scanErrorCache;  // where the scan error handler is registered
    std::shared_ptr<WebCredentials> m_webCredentials;
    std::string m_webScanUrl;  // the last DICOMweb address scanned, asked again after a 401
};

}  // namespace Dravelin
