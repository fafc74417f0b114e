#include "browser/widgets/DicomBrowser.h"

#include "browser/models/DatasetMemoryLoader.h"
#include "browser/models/DatasetPreviewLabel.h"
#include "browser/models/DicomBrowserFilterModel.h"
#include "browser/models/DicomBrowserModel.h"
#include "browser/models/KeychainPasswordStore.h"
#include "browser/models/SeriesLocation.h"
#include "browser/models/WebCredentials.h"
#include "browser/widgets/DateFilterWidget.h"
#include "browser/widgets/LoginDialog.h"
#include "browser/widgets/SeriesThumbnails.h"
#include "browser/widgets/SettingsWidget.h"
#include "browser/widgets/TagsWidget.h"
#include "browser/widgets/ThumbnailRowDelegate.h"
#include "host/core/Log.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/Utils.h"
#include "host/dicom/dicomweb/WebClientErrors.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "host/app/FactoryRegistry.h"
#include "host/app/RawImageIoAlgorithm.h"
#include "host/ui/LabeledSlider.h"
#include "host/ui/MainWindowBase.h"
#include "host/ui/WidgetHelpers.h"
#include "ui_DicomBrowser.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMovie>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrlQuery>
#include <QVBoxLayout>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <algorithm>
#include <mutex>

namespace Dravelin {

namespace {

const char* const kFoldersKey = "lastDir/scanDicomFolders";
const char* const kDicomDirsKey = "lastDir/scanDicomFiles";
const char* const kWebKey = "lastDir/scanDicomWeb";
const char* const kSearchSubDirsKey = "DicomBrowser/searchSubDirs";
const char* const kUseDicomdirKey = "DicomBrowser/useDicomdir";
const char* const kCheckHeaderKey = "DicomBrowser/checkDicomHeader";
constexpr int kRecentLocations = 10;
constexpr int kCancelMs = 2000;
constexpr int kScanPaintIntervalMs = 250;
constexpr int kTagsTabIndex = 1;

void logError(const std::string& message)
{
    Log::log(4, "DICOM", message, __FILE__, __LINE__);
}

void fillRecentLocations(QComboBox* box, const QStringList& locations)
{
    box->clear();
    box->addItems(locations);
    box->setEditText(locations.value(0));
}

// Lists written before logins were kept apart may hold them: they are not shown.
QStringList withoutUserInfo(QStringList locations)
{
    for (QString& location : locations)
        location =
            QString::fromStdString(Filesystem::Url(location.toStdString()).string(Filesystem::Url::RemoveUserInfo));
    locations.removeDuplicates();
    return locations;
}

// Puts `location` in front of the list stored under `key` (at most ten, no duplicates).
// Written through the caller's settings, so that a scan's settings reach the disk in one write.
void rememberLocation(QSettings& settings, QComboBox* box, const char* key, const QString& location)
{
    QStringList locations = settings.value(key).toStringList();
    locations.prepend(location);
    locations = locations.mid(0, kRecentLocations);
    locations.removeDuplicates();
    settings.setValue(key, locations);
    fillRecentLocations(box, locations);
}

// The rows from the root down to `index`, so that two indexes compare in the order a tree
// view shows them (by their ancestors that are siblings under the nearest common parent).
std::vector<int> rowPath(QModelIndex index)
{
    std::vector<int> rows;
    for (; index.isValid(); index = index.parent())
        rows.push_back(index.row());
    std::reverse(rows.begin(), rows.end());
    return rows;
}

std::vector<Dicom::Series*> seriesOf(const QModelIndex& index)
{
    std::vector<Dicom::Series*> series;
    if (auto* s = index.data(DicomBrowserModel::SeriesRole).value<Dicom::Series*>()) {
        series.push_back(s);
    } else if (auto* study = index.data(DicomBrowserModel::StudyRole).value<Dicom::Study*>()) {
        series = study->series;
    } else if (auto* patient = index.data(DicomBrowserModel::PatientRole).value<Dicom::Patient*>()) {
        for (Dicom::Study* s : patient->studies)
            series.insert(series.end(), s->series.begin(), s->series.end());
    }
    return series;
}

// Counts patients, studies and series (a study's PACS placeholder counts as one series).
struct TreeCounts
{
    int patients = 0;
    int studies = 0;
    int series = 0;
    bool operator!=(const TreeCounts& o) const
    {
        return patients != o.patients || studies != o.studies || series != o.series;
    }
};

TreeCounts countRows(const QAbstractItemModel& model)
{
    TreeCounts counts;
    counts.patients = model.rowCount();
    for (int p = 0; p < counts.patients; ++p) {
        const QModelIndex patient = model.index(p, 0);
        const int studies = model.rowCount(patient);
        counts.studies += studies;
        for (int s = 0; s < studies; ++s)
            counts.series += model.rowCount(model.index(s, 0, patient));
    }
    return counts;
}

}  // namespace

// The dataset cache calls the scan error handler on scan threads; the handler reaches the
// dialog only through this guard, which the destructor empties, so a late error never touches
// a dialog that is gone.
struct DicomBrowser::ScanErrorGuard
{
    std::mutex mutex;
    DicomBrowser* browser = nullptr;
};

DicomBrowser::DicomBrowser(std::shared_ptr<Dicom::DatasetCache> cache, QWidget* parent,
                           std::unique_ptr<DicomBrowserFilterModel> filterModel)
    : QDialog(parent),
      m_ui(new Ui_DicomBrowser),
      m_model(new DicomBrowserModel(std::move(cache), this)),
      m_loadingMovie(new QMovie(QStringLiteral(":/PreviewLoading.gif"), QByteArray(), this)),
      m_loadingMovieTiny(new QMovie(QStringLiteral(":/PreviewLoadingTiny.gif"), QByteArray(), this)),
      m_scanErrorGuard(std::make_shared<ScanErrorGuard>())
{
    m_scanErrorGuard->browser = this;
    m_webCredentials = WebCredentials::application();
    if (!m_webCredentials) {
        m_webCredentials =
            std::make_shared<WebCredentials>(std::make_shared<KeychainPasswordStore>(), &LoginDialog::ask);
        WebCredentials::setApplication(m_webCredentials);
    }
    if (filterModel) {
        m_filterModel = filterModel.release();
        m_filterModel->setParent(this);
    } else {
        m_filterModel = new DicomBrowserFilterModel(this);
    }
    qRegisterMetaType<std::shared_ptr<DcmDataset>>("std::shared_ptr<DcmDataset>");
    m_ui->setupUi(this);

    // Preview and frame slider; they move into the Info tab when a series or image is current.
    m_previewLabel = new Dicom::DatasetPreviewLabel(m_model, this);
    m_previewLabel->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    m_previewLabel->setAlignment(Qt::AlignCenter);
    m_previewLabel->setLoadingPlaceholder(m_loadingMovie);
    m_previewLabel->setErrorPlaceholder(QPixmap(QStringLiteral(":/PreviewFailed.png")));
    m_previewLabel->hide();
    m_frameSlider = new LabeledSlider(Qt::Horizontal, LabeledSlider::FrontLabel, this);
    m_frameSlider->hide();
    // The slider counts frames from 1, the preview from 0.
    connect(m_previewLabel, &Dicom::DatasetPreviewLabel::imageIndexChanged, m_frameSlider,
            [this](int i) { m_frameSlider->setValue(i + 1); });
    connect(m_frameSlider, &LabeledSlider::sliderValueChanged, m_previewLabel,
            [this](int v) { m_previewLabel->setImageIndex(v - 1); });

    m_filterModel->setSourceModel(m_model);
    m_filterModel->setDynamicSortFilter(true);
    m_filterModel->setSortRole(DicomBrowserModel::SortRole);
    m_filterModel->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_ui->view->setModel(m_filterModel);
    m_ui->view->setSortingEnabled(true);
    // Every row is one line of text: the view need not measure each row it lays out.
    m_ui->view->setUniformRowHeights(true);
    m_ui->view->sortByColumn(0, Qt::AscendingOrder);
    // Series rows carry a thumbnail; the image count column keeps a fixed width (measuring
    // contents would read every row on each insert).
    m_ui->view->setIconSize(QSize(SeriesThumbnails::size, SeriesThumbnails::size));
    m_ui->view->setItemDelegate(new ThumbnailRowDelegate(m_ui->view));
    m_ui->view->header()->setStretchLastSection(false);
    m_ui->view->header()->setSectionResizeMode(DicomBrowserModel::TreeColumn, QHeaderView::Stretch);
    m_ui->view->header()->setSectionResizeMode(DicomBrowserModel::ImageCountColumn, QHeaderView::Fixed);
    m_ui->view->header()->resizeSection(DicomBrowserModel::ImageCountColumn,
                                        m_ui->view->fontMetrics().horizontalAdvance(QStringLiteral("000000")));

    // The details keep their place beside the tree with a hint until a row is current: the
    // first row made current during a scan then lays out only this side, not the whole dialog.
    m_ui->infoStack->setCurrentWidget(m_ui->infoHintLabel);
    m_ui->infoHintLabel->setEnabled(false);
    m_ui->infoTabWidget->setMinimumWidth(m_previewLabel->thumbnailSize());
    m_ui->infoTabWidget->setTabEnabled(kTagsTabIndex, false);
    connect(m_ui->infoTabWidget, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == kTagsTabIndex)
            updateTags();
    });
    connect(this, &DicomBrowser::updateTagsFromDataset, this, &DicomBrowser::onUpdateTagsFromDataset);

    // Both sides grow alike with the window (see showEvent for the first proportions).
    m_ui->splitter->setStretchFactor(0, 3);
    m_ui->splitter->setStretchFactor(1, 2);
    m_ui->splitter->setHandleWidth(10);
    m_ui->splitter->setStyleSheet(QStringLiteral("QSplitter::handle { margin: 0px 0px 0xp 6px; }"));

    // Recent locations.
    QSettings settings;
    fillRecentLocations(m_ui->pathEdit, settings.value(kFoldersKey).toStringList());
    fillRecentLocations(m_ui->pathDDEdit, settings.value(kDicomDirsKey).toStringList());
    fillRecentLocations(m_ui->dicomWebUrlEdit, withoutUserInfo(settings.value(kWebKey).toStringList()));
    const auto enableWhenNotEmpty = [](QPushButton* button) {
        return [button](const QString& text) { button->setEnabled(!text.isEmpty()); };
    };
    connect(m_ui->pathEdit, &QComboBox::editTextChanged, this, enableWhenNotEmpty(m_ui->scanButton));
    connect(m_ui->pathDDEdit, &QComboBox::editTextChanged, this, enableWhenNotEmpty(m_ui->scanDDButton));
    const auto onWebUrlChanged = [this](const QString& text) {
        m_ui->dicomWebScanButton->setEnabled(!text.isEmpty());
        const std::string warning = Dicom::Utils::checkDicomWebUrlWarnings(text.toStdString());
        if (text.isEmpty() || warning.empty()) {
            m_ui->dicomWebWarningLabel->hide();
        } else {
            m_ui->dicomWebWarningLabel->setToolTip(QString::fromStdString(warning));
            m_ui->dicomWebWarningLabel->show();
        }
    };
    connect(m_ui->dicomWebUrlEdit, &QComboBox::editTextChanged, this, onWebUrlChanged);
    m_ui->scanButton->setEnabled(!m_ui->pathEdit->currentText().isEmpty());
    m_ui->scanDDButton->setEnabled(!m_ui->pathDDEdit->currentText().isEmpty());

    m_ui->searchSubDirsCheckBox->setChecked(settings.value(kSearchSubDirsKey, true).toBool());
    m_ui->useDicomdirCheckBox->setChecked(settings.value(kUseDicomdirKey, false).toBool());
    m_ui->checkDicomHeaderCheckBox->setChecked(settings.value(kCheckHeaderKey, true).toBool());

    connect(m_ui->tabWidget, &QTabWidget::currentChanged, this, &DicomBrowser::onTabWidgetChanged);
    m_ui->tabWidget->setCurrentIndex(DirectoryTab);
    connect(m_ui->scanButton, &QPushButton::clicked, this, &DicomBrowser::scan);
    connect(m_ui->pathButton, &QToolButton::clicked, this, &DicomBrowser::choosePath);
    connect(m_ui->scanDDButton, &QPushButton::clicked, this, &DicomBrowser::scanDicomDir);
    connect(m_ui->pathDDButton, &QToolButton::clicked, this, &DicomBrowser::chooseDicomDir);
    connect(m_ui->dicomWebScanButton, &QPushButton::clicked, this, &DicomBrowser::scanWeb);
    connect(m_ui->cancelProgressButton, &QPushButton::clicked, this, &DicomBrowser::cancelScan);
    connect(this, &QDialog::accepted, this, &DicomBrowser::cancelScan);
    connect(this, &QDialog::rejected, this, &DicomBrowser::cancelScan);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_ui->dicomWebAdvancedQueryCheckBox, &QCheckBox::toggled, this, &DicomBrowser::onAdvancedQueryToggled);

    m_ui->dicomWebWarningLabel->setPixmap(QtHelpers::generateMultiSizeIcon("Warning.png").pixmap(24, 24));
    m_ui->dicomWebWarningLabel->hide();
    onWebUrlChanged(m_ui->dicomWebUrlEdit->currentText());
    m_configButton = new QToolButton(this);
    m_configButton->setToolTip(tr("Edit Configuration"));
    m_configButton->setIcon(QtHelpers::generateMultiSizeIcon("IconOptions.png"));
    m_configButton->setIconSize(QSize(12, 12));
    connect(m_configButton, &QToolButton::clicked, this, &DicomBrowser::openConfigDialog);
    m_ui->buttonBox->addButton(m_configButton, QDialogButtonBox::ActionRole);
    m_configButton->hide();

    connect(m_ui->filterLineEdit, &QLineEdit::textChanged, m_filterModel,
            &DicomBrowserFilterModel::setFilterFixedString);

    // Modality filter: a combo box of checkable modalities.
    m_modalitiesModel = new QStandardItemModel(m_ui->modalityComboBox);
    m_ui->modalityComboBox->setModel(m_modalitiesModel);
    m_modalitiesChangedConnection =
        connect(m_modalitiesModel, &QStandardItemModel::dataChanged, this, &DicomBrowser::onModalitiesModelChanged);
    connect(m_modalitiesModel, &QStandardItemModel::rowsInserted, this,
            [this] { m_ui->modalityComboBox->setEnabled(m_modalitiesModel->rowCount() > 0); });
    m_ui->modalityComboBox->setEnabled(false);
    m_ui->modalityComboBox->setEditable(true);
    m_ui->modalityComboBox->setEditText(tr("Any"));
    m_ui->modalityComboBox->lineEdit()->setStyleSheet(
        QStringLiteral("QLineEdit { background: transparent; margin: 0px; padding: 0px; border: none; }"));
    m_ui->modalityComboBox->lineEdit()->setReadOnly(true);
    // Picking a modality in the list toggles its check mark instead of replacing the text.
    connect(m_ui->modalityComboBox, QOverload<int>::of(&QComboBox::activated), this, [this](int row) {
        if (QStandardItem* item = m_modalitiesModel->item(row))
            item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        onModalitiesModelChanged();
    });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &DicomBrowser::onModelRowsInserted);
    connect(m_model, &QAbstractItemModel::modelReset, this, &DicomBrowser::rebuildModalities);
    connect(m_filterModel, &DicomBrowserFilterModel::modalitiesFilterChanged, this,
            &DicomBrowser::mirrorModalitiesFilter);

    connect(m_ui->checkBoxFilterOriginal, &QCheckBox::toggled, m_filterModel,
            &DicomBrowserFilterModel::setOriginalOnly);
    m_ui->moreFiltersWidget->hide();
    connect(m_ui->moreFiltersButton, &QPushButton::toggled, m_ui->moreFiltersWidget, &QWidget::setVisible);

    auto* dateFilter = new DateFilterWidget(tr("Date"));
    dateFilter->setToolTip(tr("Filter by series-, acquisition- or study date, depending on which one is not empty."));
    m_ui->moreFiltersWidgetLayout->insertWidget(0, dateFilter);
    dateFilter->setDateFilter(m_filterModel->studyDateFilter());
    connect(dateFilter, &DateFilterWidget::dateFilterChanged, m_filterModel, &DicomBrowserFilterModel::setDateFilter);
    connect(m_filterModel, &DicomBrowserFilterModel::dateFilterChanged, dateFilter, &DateFilterWidget::setDateFilter);

    connect(m_filterModel, &QAbstractItemModel::rowsInserted, this, &DicomBrowser::onFilterRowsInserted);

    // Check marks change the choice at once; the many other changes of a scan (a row per image)
    // are folded into one update per turn of the event loop.
    connect(m_model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex&, const QVector<int>& roles) {
                if (roles.contains(Qt::CheckStateRole))
                    updateOkButton();
                else
                    scheduleOkButtonUpdate();
            });
    connect(m_ui->view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &DicomBrowser::updateOkButton);
    updateOkButton();
    connect(m_ui->view, &QTreeView::clicked, this, &DicomBrowser::loadSeriesIntoMemory);
    connect(m_ui->view, &QTreeView::customContextMenuRequested, this,
            [this](const QPoint& pos) { openContextMenu(m_ui->view->viewport()->mapToGlobal(pos)); });
    connect(m_ui->view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &DicomBrowser::onSelectionChanged);
    // Removing an ancestor of the current row (a filter hides its patient), a reset or a
    // re-sorted layout drops the current row without telling currentChanged.
    const auto dropStaleInfo = [this] {
        if (!m_ui->view->currentIndex().isValid())
            clearCurrentInfo();
    };
    connect(m_filterModel, &QAbstractItemModel::rowsRemoved, this, dropStaleInfo);
    connect(m_filterModel, &QAbstractItemModel::modelReset, this, dropStaleInfo);
    connect(m_filterModel, &QAbstractItemModel::layoutChanged, this, dropStaleInfo);
    connect(m_model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last, const QVector<int>& roles) {
                // Only a change of the row the Info tab shows matters.
                if (!roles.contains(DicomBrowserModel::PropertiesRole))
                    return;
                const QModelIndex current = m_filterModel->mapToSource(m_ui->view->currentIndex());
                if (current.parent() == first.parent() && current.row() >= first.row() && current.row() <= last.row())
                    updateParameterList();
            });

    // Progress of the scans.
    connect(m_model, &DicomBrowserModel::isScanningChanged, m_ui->progressWidget, &QWidget::setVisible);
    // While a scan adds rows, the tree is painted a few times a second instead of after every
    // merge: painting it was most of the GUI thread's time during a scan.
    auto* treePaint = new QTimer(this);
    treePaint->setInterval(kScanPaintIntervalMs);
    connect(treePaint, &QTimer::timeout, this, [this] {
        m_ui->view->setUpdatesEnabled(true);
        m_ui->view->repaint();
        m_ui->view->setUpdatesEnabled(false);
    });
    connect(m_model, &DicomBrowserModel::isScanningChanged, this, [this, treePaint](bool scanning) {
        m_ui->view->setUpdatesEnabled(!scanning);
        if (scanning)
            treePaint->start();
        else
            treePaint->stop();
    });
    m_ui->progressWidget->setVisible(m_model->isScanning());
    // A scan inserts rows many times a second: one label update per turn of the event loop.
    connect(m_filterModel, &QAbstractItemModel::rowsInserted, this, &DicomBrowser::scheduleStatsUpdate);
    connect(m_filterModel, &QAbstractItemModel::rowsRemoved, this, &DicomBrowser::updateStats);
    connect(m_filterModel, &QAbstractItemModel::modelReset, this, &DicomBrowser::updateStats);
    updateStats();
    // Rows the filter hides change the totals without a signal of the filter model (a PACS
    // placeholder replaced by its series, series arriving while a filter is set): the source
    // model's changes refresh the label too, once per turn of the event loop.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &DicomBrowser::scheduleStatsUpdate);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &DicomBrowser::scheduleStatsUpdate);
    // At the end of a folder scan, the files it left out: counted beside the tree, listed in the log.
    connect(m_model, &DicomBrowserModel::isScanningChanged, this, [this](bool scanning) {
        if (scanning)
            return;
        for (const auto& skipped : m_model->skippedFiles().files())
            Log::log(2, "DICOM",
                     "Skipped " + skipped.first.toStdString() + ": " +
                         Dicom::SkippedFiles::reasonText(skipped.second).toStdString());
        scheduleStatsUpdate();
    });
    connect(m_model, &DicomBrowserModel::scanProgressRangeChanged, m_ui->progressBar, &QProgressBar::setRange);
    connect(m_model, &DicomBrowserModel::scanProgressValueChanged, m_ui->progressBar, &QProgressBar::setValue);
    connect(m_model, &DicomBrowserModel::scanProgressTextChanged, m_ui->progressBar,
            [this](const QString& text) { m_ui->progressBar->setFormat(text + " %p%"); });
    connect(m_model, &DicomBrowserModel::scanHttpError, this, &DicomBrowser::onScanHttpError);

    connect(m_ui->btnPacsConfigure, &QPushButton::clicked, this, &DicomBrowser::onPacsConfigButtonClicked);
    connect(m_ui->btnPacsConnect, &QPushButton::clicked, this, &DicomBrowser::connectToPacs);
    updateAvailablePacsServers();
    m_ui->pacsSettings->hide();

    // Background loading of the checked series.
    m_memoryLoader = new Dicom::DatasetMemoryLoader(m_model->datasetCache());
    new SeriesThumbnails(m_ui->view, m_model, m_memoryLoader, this);
    m_ui->memoryLoaderLabel->setMovie(m_loadingMovieTiny);
    m_ui->memoryLoaderLabel->hide();
    connect(m_memoryLoader, &Dicom::DatasetMemoryLoader::queueSizeChanged, this,
            &DicomBrowser::onMemoryLoaderQueueSizeChanged, Qt::QueuedConnection);
    connect(m_model, &DicomBrowserModel::isScanningChanged, m_memoryLoader, [this](bool scanning) {
        // At least one thread: a machine reporting a single core must still load.
        m_memoryLoader->setMaxThreadCount(scanning ? 1 : std::max(1, 3 * QThread::idealThreadCount() / 4));
    });
    connect(m_model, &DicomBrowserModel::isScanningChanged, this, &DicomBrowser::onScanFinished);

    connect(this, &DicomBrowser::dicomScanError, this, &DicomBrowser::showDicomScanError, Qt::QueuedConnection);
    // Raw buffers of the tag view open in the application's main window, when that is the parent.
    connect(m_ui->tagsWidget, &Dicom::TagsWidget::savedRawBuffer, this, &DicomBrowser::onSavedRawBuffer);
}

DicomBrowser::~DicomBrowser()
{
    // The models go with the other children after this body: none of their last signals may
    // reach the slots of a dialog that is half gone.
    m_model->disconnect(this);
    m_filterModel->disconnect(this);
    m_memoryLoader->disconnect(this);
    m_model->cancelScan(std::chrono::milliseconds(kCancelMs));
    {
        std::lock_guard<std::mutex> lock(m_scanErrorGuard->mutex);
        m_scanErrorGuard->browser = nullptr;
    }
    removeScanErrorHandler();
    delete m_ui;
    m_ui = nullptr;
    m_memoryLoader->deleteLater();
}

bool DicomBrowser::event(QEvent* event)
{
    if (event->type() == QEvent::Show) {
        updateAvailablePacsServers();
        onTabWidgetChanged(m_ui->tabWidget->currentIndex());
    }
    return QDialog::event(event);
}

// --- sources ------------------------------------------------------------------------------------

bool DicomBrowser::stopRunningWork()
{
    m_memoryLoader->cancelAll();
    if (m_model->cancelScan(std::chrono::milliseconds(kCancelMs)))
        return true;
    logError("Could not cancel current scan");
    return false;
}

void DicomBrowser::choosePath()
{
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Select directory"), m_ui->pathEdit->currentText(),
                                                          QFileDialog::ShowDirsOnly);
    if (dir.isEmpty())
        return;
    m_ui->pathEdit->setEditText(dir);
    scan();
}

void DicomBrowser::chooseDicomDir()
{
    const QString file =
        QFileDialog::getOpenFileName(this, tr("Select DICOMDIR File"), m_ui->pathDDEdit->currentText());
    if (file.isEmpty())
        return;
    m_ui->pathDDEdit->setEditText(file);
    scanDicomDir();
}

void DicomBrowser::scan()
{
    if (!stopRunningWork())
        return;
    const QString path = m_ui->pathEdit->currentText();
    const bool networkPath = path.startsWith(QLatin1String("//")) || path.startsWith(QLatin1Char('\\'));
    auto settings = std::make_unique<QSettings>();
    if (!networkPath)  // a path that cannot be scanned is not offered again
        rememberLocation(*settings, m_ui->pathEdit, kFoldersKey, path);
    const bool recursive = m_ui->searchSubDirsCheckBox->isChecked();
    const bool dicomdirOnly = m_ui->useDicomdirCheckBox->isChecked();
    const bool checkHeader = m_ui->checkDicomHeaderCheckBox->isChecked();
    settings->setValue(kSearchSubDirsKey, recursive);
    settings->setValue(kUseDicomdirKey, dicomdirOnly);
    settings->setValue(kCheckHeaderKey, checkHeader);
    m_settingsWriter.write(std::move(settings));
    m_ui->tagsWidget->setDataset(nullptr);
    if (networkPath) {
        QMessageBox::warning(nullptr, tr("DICOM"),
                             tr("Directory path starts with '//' or '\\\\' and cannot be scanned. Consider mapping "
                                "this path to a local filesystem path."),
                             QMessageBox::Ok);
        return;
    }
    m_model->clear();
    m_model->scanDirectoryAsync(path, recursive, dicomdirOnly, checkHeader);
    clearInfoTab();
}

void DicomBrowser::scanDicomDir()
{
    if (!stopRunningWork())
        return;
    const QString path = m_ui->pathDDEdit->currentText();
    auto settings = std::make_unique<QSettings>();
    rememberLocation(*settings, m_ui->pathDDEdit, kDicomDirsKey, path);
    m_settingsWriter.write(std::move(settings));
    m_ui->tagsWidget->setDataset(nullptr);
    m_model->clear();
    m_model->scanDicomDirAsync(path);
}

void DicomBrowser::scanWeb()
{
    const QString text = m_ui->dicomWebUrlEdit->currentText();
    Filesystem::Url url(text.toStdString());
    if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https")) {
        QMessageBox::critical(this, tr("Invalid URL"),
                              tr("The entered URL is not valid or does not start with http(s)."));
        return;
    }
    // A login written into the address answers the server's question; it is kept with the other
    // logins and never in the recent list.
    m_webCredentials->takeUserInfo(url);
    url.setQuery(std::string());
    auto settings = std::make_unique<QSettings>();
    rememberLocation(*settings, m_ui->dicomWebUrlEdit, kWebKey, QString::fromStdString(url.string()));
    m_settingsWriter.write(std::move(settings));

    if (m_ui->dicomWebAdvancedQueryCheckBox->isChecked())
        url.setQuery(m_ui->dicomWebPatientFilterEdit->text().toStdString());
    else
        url.setQuery(formatUrlQuery(m_ui->dicomWebPatientFilterEdit->text(), m_ui->dicomWebStudyFilterEdit->text())
                         .toStdString());
    startWebScan(url.string(Filesystem::Url::LoaderEncoded), false);
}

void DicomBrowser::startWebScan(const std::string& location, bool keepCredentials)
{
    if (!stopRunningWork())
        return;
    removeScanErrorHandler();
    m_ui->tagsWidget->setDataset(nullptr);
    m_model->clear();
    m_webScanUrl = location;
    const Filesystem::Url url(location);
    const std::shared_ptr<Dicom::DatasetCache> cache = m_model->datasetCache();
    std::shared_ptr<Network::HttpAuthorizationProvider> provider = cache->authorizationProvider();
    if (!provider) {
        provider = std::make_shared<Network::HttpAuthorizationProvider>();
        cache->setAuthorizationProvider(provider);
    }
    // The first request goes with the login known for this server, or with none: servers that
    // need no login are never asked for one.
    if (!keepCredentials)
        m_webCredentials->prepare(*provider, url);

    const std::shared_ptr<ScanErrorGuard> guard = m_scanErrorGuard;
    m_scanErrorHandlerId = static_cast<std::uint64_t>(cache->addErrorCallback([guard](const Dicom::Error& error) {
        std::lock_guard<std::mutex> lock(guard->mutex);
        if (DicomBrowser* browser = guard->browser)
            browser->onScanError(error);
    }));
    m_scanErrorCache = cache;
    m_model->scanWebAsync(url);
}

void DicomBrowser::setWebCredentials(std::shared_ptr<WebCredentials> credentials)
{
    m_webCredentials = std::move(credentials);
}

void DicomBrowser::onScanError(const Dicom::Error& error)
{
    if (error.type == Dicom::Error::Fatal && error.code == Dicom::WebClientErrors::AuthorizationFailed)
        Q_EMIT dicomScanError(tr("Authorization error"), tr("Invalid username and/or password"));
    else if (error.type == Dicom::Error::Fatal && error.code == Dicom::WebClientErrors::NetworkFailure)
        Q_EMIT dicomScanError(tr("Network error"), tr("The search failed because of a network error: ") +
                                                       QString::fromStdString(error.message));
    else if (error.type == Dicom::Error::Warning)
        m_searchIncomplete = true;
}

void DicomBrowser::onScanHttpError(const QString& message, Network::HttpStatus status)
{
    if (status == Network::HttpStatus::Unauthorized && !m_webScanUrl.empty()) {
        const Filesystem::Url url(m_webScanUrl);
        const std::shared_ptr<Network::HttpAuthorizationProvider> provider =
            m_model->datasetCache()->authorizationProvider();
        if (provider && m_webCredentials->answerUnauthorized(*provider, url)) {
            startWebScan(m_webScanUrl, true);
            return;
        }
        QMessageBox::information(this, tr("Login required"),
                                 tr("The server %1 requires a login: the scan was cancelled.")
                                     .arg(QString::fromStdString(WebCredentials::serverKey(url))));
        return;
    }
    QMessageBox::critical(this, tr("Scan failed"),
                          tr("The scan did not succeed. Results may be incomplete. %1 (code %2)")
                              .arg(message)
                              .arg(Network::toInt(status)));
}

void DicomBrowser::removeScanErrorHandler()
{
    if (m_scanErrorHandlerId != 0) {
        if (const auto cache = m_scanErrorCache.lock())
            cache->removeErrorCallback(static_cast<int>(m_scanErrorHandlerId));
        m_scanErrorHandlerId = 0;
        m_scanErrorCache.reset();
    }
    m_searchIncomplete = false;
}

void DicomBrowser::onScanFinished(bool scanning)
{
    if (scanning)
        return;
    if (m_searchIncomplete.exchange(false))
        QMessageBox::warning(this, tr("Incomplete search"),
                             tr("The search did not succeed completely. Some studies or series might be missing. "
                                "Please see the log for details."));
    removeScanErrorHandler();
}

void DicomBrowser::showDicomScanError(QString title, QString message)
{
    QMessageBox::critical(this, title, message, QMessageBox::Ok);
}

QString DicomBrowser::formatUrlQuery(const QString& patientName, const QString& studyDescription) const
{
    Filesystem::Url url;
    if (!patientName.isEmpty())
        url.appendSubquery("PatientName", patientName.toStdString());
    if (!studyDescription.isEmpty())
        url.appendSubquery("StudyDescription", studyDescription.toStdString());
    return QString::fromStdString(url.query());
}

void DicomBrowser::onAdvancedQueryToggled(bool checked)
{
    QLineEdit* patient = m_ui->dicomWebPatientFilterEdit;
    QLineEdit* study = m_ui->dicomWebStudyFilterEdit;
    study->setVisible(!checked);
    if (checked) {
        patient->setText(formatUrlQuery(patient->text(), study->text()));
        patient->setPlaceholderText(tr("URL study query e.g. PatientName=someone&StudyID=2"));
        return;
    }
    Filesystem::Url url;
    url.setQuery(patient->text().toStdString());
    if (const auto name = url.subquery("PatientName"))
        patient->setText(QString::fromStdString(*name));
    if (const auto description = url.subquery("StudyDescription"))
        study->setText(QString::fromStdString(*description));
    patient->setPlaceholderText(tr("Patient Name"));
}

void DicomBrowser::cancelScan()
{
    m_memoryLoader->cancelAll();
    m_model->cancelScan(std::chrono::milliseconds(kCancelMs));
}

// --- PACS ---------------------------------------------------------------------------------------

void DicomBrowser::connectToPacs()
{
    if (!stopRunningWork())
        return;
    m_model->clear();
    const DicomPluginSettings settings;
    // A plain name is searched as a part of names, one with wildcards is taken as written.
    const auto wrap = [](QString filter) {
        if (!filter.isEmpty() && !filter.contains(QLatin1Char('*')))
            filter = QLatin1Char('*') + filter + QLatin1Char('*');
        return filter;
    };
    const QString patients = wrap(m_ui->pacsPatientNameFilter->text());
    const QString studies = wrap(m_ui->pacsStudyFilter->text());
    // The tab shows either a configured server or the fields of another one: the scan queries
    // the one shown.
    if (showsPacsFields()) {
        const DicomPluginSettings::PacsServer shown{std::string(), m_ui->pacsHostname->text().toStdString(),
                                                    m_ui->pacsPort->value(), m_ui->pacsAeTitle->text().toStdString(),
                                                    false};
        m_model->scanPacsAsync(settings.connectionConfiguration(shown), patients, studies);
        return;
    }
    const QString name = m_ui->pacsServersComboBox->currentText();
    const auto servers = settings.pacsServers();
    const auto server =
        std::find_if(servers.begin(), servers.end(), [&](const auto& s) { return s.name == name.toStdString(); });
    if (server == servers.end()) {
        logError("The selected PACS server does not seem to part of the configured PACS servers: " +
                 name.toStdString());
        return;
    }
    // The server's host, port, AE title and retrieval mode, with our own AE title and timeouts.
    m_model->scanPacsAsync(settings.connectionConfiguration(*server), patients, studies);
}

void DicomBrowser::updateAvailablePacsServers()
{
    // The list is refreshed whenever the dialog shows; a server chosen before stays chosen.
    QComboBox* box = m_ui->pacsServersComboBox;
    const QString chosen = box->currentText();
    box->clear();
    for (const auto& server : DicomPluginSettings().pacsServers())
        box->addItem(QString::fromStdString(server.name));
    box->setCurrentIndex(std::max(0, box->findText(chosen, Qt::MatchFixedString | Qt::MatchCaseSensitive)));
}

void DicomBrowser::onTabWidgetChanged(int index)
{
    if (index != PacsTab) {
        m_ui->btnPacsConnect->setEnabled(true);
        return;
    }
    if (!updatePacsScanButton())
        QMessageBox::information(this, tr("No PACS servers configured"),
                                 tr("Please configure at least one PACS server in the Settings."));
}

void DicomBrowser::onPacsConfigButtonClicked()
{
    QDialog dialog(this);
    auto* layout = new QVBoxLayout(&dialog);
    auto* page = new Dicom::SettingsWidget(Dicom::SettingsWidget::PacsServers, &dialog);
    page->loadSettings();
    layout->addWidget(page);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(&dialog, &QDialog::accepted, page, &Dicom::SettingsWidget::saveSettings);
    dialog.exec();
    updateAvailablePacsServers();
}

void DicomBrowser::fixTabWidget(bool fix, int tabIndex, const std::string& location)
{
    // The PACS tab shows the server first, so that switching to it knows whether the fields of an
    // unconfigured server are there to scan.
    if (tabIndex == PacsTab)
        showPacsLocation(location);
    // A later flow without a fixed source must get the tabs back.
    m_ui->tabWidget->setEnabled(!fix);
    if (m_ui->tabWidget->currentIndex() == tabIndex)
        updatePacsScanButton();
    m_ui->tabWidget->setCurrentIndex(tabIndex);
    const QString text = QString::fromStdString(location);
    if (location.empty())
        return;
    if (tabIndex == DicomDirTab)
        m_ui->pathDDEdit->setEditText(text);
    else if (tabIndex == DirectoryTab)
        m_ui->pathEdit->setEditText(text);
}

void DicomBrowser::showPacsLocation(const std::string& location)
{
    const DicomPacsConfiguration config =
        location.empty() ? DicomPacsConfiguration() : DicomPacsConfiguration::fromUri(Filesystem::Url(location));
    bool found = !config.isValid();
    for (const auto& server : DicomPluginSettings().pacsServers()) {
        if (found || server.hostname != config.hostname || server.port != config.port ||
            server.aeTitle != config.aeTitle)
            continue;
        const int row = m_ui->pacsServersComboBox->findText(QString::fromStdString(server.name),
                                                            Qt::MatchFixedString | Qt::MatchCaseSensitive);
        if (row >= 0) {
            m_ui->pacsServersComboBox->setCurrentIndex(row);
            found = true;
        }
    }
    m_ui->pacsPresets->setVisible(found);
    m_ui->pacsSettings->setVisible(!found);
    if (!found) {
        m_ui->pacsHostname->setText(QString::fromStdString(config.hostname));
        m_ui->pacsPort->setValue(config.port);
        m_ui->pacsAeTitle->setText(QString::fromStdString(config.aeTitle));
    }
}

bool DicomBrowser::showsPacsFields() const
{
    return !m_ui->pacsSettings->isHidden();
}

bool DicomBrowser::updatePacsScanButton()
{
    const bool scannable = showsPacsFields() || !DicomPluginSettings().pacsServers().empty();
    m_ui->btnPacsConnect->setEnabled(scannable);
    return scannable;
}

// --- selection ----------------------------------------------------------------------------------

std::vector<Dicom::Series*> DicomBrowser::chosenSeries(bool inViewOrder) const
{
    QList<Dicom::Series*> list = m_filterModel ? m_filterModel->selectedSeries() : m_model->selectedSeries();
    std::vector<Dicom::Series*> series(list.begin(), list.end());
    if (m_filterModel && inViewOrder) {
        std::vector<std::pair<std::vector<int>, Dicom::Series*>> keyed;
        keyed.reserve(series.size());
        for (Dicom::Series* s : series)
            keyed.emplace_back(rowPath(m_filterModel->mapFromSource(m_model->index(s))), s);
        std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = 0; i < keyed.size(); ++i)
            series[i] = keyed[i].second;
    }
    // Nothing checked: the selected series rows are the choice.
    if (series.empty()) {
        // By the tree column: a row counts as selected whether or not its count column is too.
        for (const QModelIndex& index : m_ui->view->selectionModel()->selectedIndexes())
            if (index.column() == DicomBrowserModel::TreeColumn)
                if (auto* s = index.data(DicomBrowserModel::SeriesRole).value<Dicom::Series*>())
                    series.push_back(s);
    }
    series.erase(std::remove_if(series.begin(), series.end(), [](Dicom::Series* s) { return s->images.empty(); }),
                 series.end());
    return series;
}

std::string DicomBrowser::selectedSeriesUri() const
{
    const std::vector<Dicom::Series*> series = chosenSeries(true);
    if (series.empty())
        return {};
    return DicomBrowserModel::retrieveLocationString(series, m_ui->checkDicomHeaderCheckBox->isChecked());
}

void DicomBrowser::updateOkButton()
{
    if (m_bulkSelecting)
        return;
    // The same answer as selectedSeriesUri() being empty, without building every location.
    const bool checkHeader = m_ui->checkDicomHeaderCheckBox->isChecked();
    const std::vector<Dicom::Series*> series = chosenSeries(false);
    const bool usable = std::any_of(series.begin(), series.end(), [checkHeader](const Dicom::Series* s) {
        return SeriesLocation::of(*s, checkHeader).has_value();
    });
    if (QPushButton* ok = m_ui->buttonBox->button(QDialogButtonBox::Ok))
        ok->setEnabled(usable);
}

void DicomBrowser::scheduleOkButtonUpdate()
{
    if (m_okUpdateQueued)
        return;
    m_okUpdateQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_okUpdateQueued = false;
            updateOkButton();
        },
        Qt::QueuedConnection);
}

void DicomBrowser::selectAll()
{
    m_bulkSelecting = true;
    for (int r = 0; r < m_filterModel->rowCount(); ++r)
        m_filterModel->setData(m_filterModel->index(r, 0), Qt::Checked, Qt::CheckStateRole);
    m_bulkSelecting = false;
    updateOkButton();
}

void DicomBrowser::selectNone()
{
    m_bulkSelecting = true;
    for (int r = 0; r < m_filterModel->rowCount(); ++r)
        m_filterModel->setData(m_filterModel->index(r, 0), Qt::Unchecked, Qt::CheckStateRole);
    m_bulkSelecting = false;
    updateOkButton();
}

void DicomBrowser::loadSeriesIntoMemory(const QModelIndex& index)
{
    for (Dicom::Series* series : seriesOf(index)) {
        for (Dicom::Image* image : series->images) {
            if (series->checked)
                m_memoryLoader->addToQueue(image->location);
            else
                m_memoryLoader->cancel(image->location);
        }
    }
}

void DicomBrowser::onModelRowsInserted(const QModelIndex& parent, int first, int last)
{
    for (int r = first; r <= last; ++r) {
        const QModelIndex index = m_model->index(r, 0, parent);
        if (auto* image = index.data(DicomBrowserModel::ImageRole).value<Dicom::Image*>()) {
            if (parent.data(Qt::CheckStateRole).toInt() == Qt::Checked)
                m_memoryLoader->addToQueue(image->location);
            continue;
        }
        if (auto* patient = index.data(DicomBrowserModel::PatientRole).value<Dicom::Patient*>()) {
            for (Dicom::Study* study : patient->studies)
                for (Dicom::Series* series : study->series)
                    addModality(series->modality);
        } else if (auto* series = index.data(DicomBrowserModel::SeriesRole).value<Dicom::Series*>()) {
            addModality(series->modality);
        }
    }
}

void DicomBrowser::onFilterRowsInserted(const QModelIndex& parent, int first, int last)
{
    for (int r = first; r <= last; ++r) {
        const QModelIndex index = m_filterModel->index(r, 0, parent);
        if (!index.isValid())
            continue;
        const bool isPatient = index.data(DicomBrowserModel::PatientRole).value<Dicom::Patient*>() != nullptr;
        if (!isPatient && !index.data(DicomBrowserModel::StudyRole).value<Dicom::Study*>())
            continue;
        m_ui->view->expand(index);
        if (isPatient)
            for (int c = 0; c < m_filterModel->rowCount(index); ++c)
                m_ui->view->expand(m_filterModel->index(c, 0, index));
    }
}

// --- Info and Tags tabs -------------------------------------------------------------------------

void DicomBrowser::clearInfoTab()
{
    QFormLayout* layout = m_ui->infoLayout;
    m_previewLabel->setParent(this);
    m_previewLabel->hide();
    m_frameSlider->setParent(this);
    m_frameSlider->hide();
    while (layout->count() > 0) {
        QLayoutItem* item = layout->takeAt(0);
        delete item->widget();
        delete item;
    }
}

void DicomBrowser::clearCurrentInfo()
{
    m_parameterFields.clear();
    clearInfoTab();
    m_ui->tagsWidget->setDataset(nullptr);
    m_ui->infoTabWidget->setTabEnabled(kTagsTabIndex, false);
    m_ui->infoStack->setCurrentWidget(m_ui->infoHintLabel);
}

void DicomBrowser::onSelectionChanged(const QModelIndex& current, const QModelIndex&)
{
    if (!m_model)
        return;
    // No current row (a filter hid it, a scan cleared the tree): nothing may stay on show.
    if (!current.isValid()) {
        clearCurrentInfo();
        return;
    }
    if (auto* placeholder = current.data(DicomBrowserModel::PacsSeriesProxyRole).value<Dicom::PacsSeriesProxy*>()) {
        m_model->getPacsSeriesAsync(placeholder);
        return;
    }
    m_parameterFields.clear();
    clearInfoTab();
    m_ui->tagsWidget->setDataset(nullptr);

    QFormLayout* layout = m_ui->infoLayout;
    const auto properties = current.data(DicomBrowserModel::PropertiesRole).value<DicomBrowserModel::ParameterList>();
    for (const auto& [label, value] : properties) {
        if (label == QLatin1String("Dimensions")) {
            auto* text = new QPlainTextEdit(value);
            text->setReadOnly(true);
            text->setLineWrapMode(QPlainTextEdit::NoWrap);
            layout->addRow(label, text);
            continue;
        }
        auto* field = new QLineEdit(value);
        field->setReadOnly(true);
        field->setCursorPosition(0);
        layout->addRow(label, field);
        m_parameterFields.insert(label, field);
    }

    const bool isImage = current.data(DicomBrowserModel::ImageRole).value<Dicom::Image*>() != nullptr;
    const bool isSeries = current.data(DicomBrowserModel::SeriesRole).value<Dicom::Series*>() != nullptr;
    if (isImage || isSeries) {
        m_previewLabel->show();
        m_previewLabel->setCurrent(m_ui->view->currentIndex());
        {
            const QSignalBlocker blocker(m_frameSlider);
            m_frameSlider->setRange(1, std::max(1, m_previewLabel->framesCount()));
            m_frameSlider->setValue(m_previewLabel->imageIndex() + 1);
        }
        m_frameSlider->setFrontLabelFormat(tr("Frame: {current} / {maximum}"));
        m_frameSlider->show();
        auto* box = new QWidget;
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(0, 0, 0, 0);
        boxLayout->addWidget(m_previewLabel);
        boxLayout->addWidget(m_frameSlider);
        layout->addRow(box);
        m_ui->infoTabWidget->setTabEnabled(kTagsTabIndex, true);
        if (m_ui->infoTabWidget->currentIndex() == kTagsTabIndex)
            updateTags();
    } else {
        m_ui->infoTabWidget->setTabEnabled(kTagsTabIndex, false);
    }
    m_ui->infoStack->setCurrentWidget(layout->count() > 0 ? static_cast<QWidget*>(m_ui->infoTabWidget)
                                                          : m_ui->infoHintLabel);
}

void DicomBrowser::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The details first get half the width, so that UIDs and descriptions are readable; later
    // the user's splitter position is kept.
    if (!m_infoWidthSet) {
        m_infoWidthSet = true;
        const int total = m_ui->splitter->width();
        m_ui->splitter->setSizes({total / 2, total - total / 2});
    }
}

void DicomBrowser::updateParameterList()
{
    const auto properties =
        m_ui->view->currentIndex().data(DicomBrowserModel::PropertiesRole).value<DicomBrowserModel::ParameterList>();
    for (const auto& [label, value] : properties) {
        if (label == QLatin1String("Dimensions"))
            continue;
        if (QLineEdit* field = m_parameterFields.value(label)) {
            if (field->text() == value)
                continue;
            field->setText(value);
            field->setCursorPosition(0);
            field->setToolTip(value);  // a long UID is cut at the field's width
        } else if (Log::isAccepted(1)) {
            Log::log(1, "Dicom",
                     "There is no parameter for " + label.toStdString() +
                         ". Changing the items in ParameterList is not supported.",
                     __FILE__, __LINE__);
        }
    }
}

void DicomBrowser::updateTags()
{
    const QModelIndex index = m_ui->view->currentIndex();
    Dicom::Image* image = index.data(DicomBrowserModel::ImageRole).value<Dicom::Image*>();
    if (!image) {
        auto* series = index.data(DicomBrowserModel::SeriesRole).value<Dicom::Series*>();
        if (!series) {
            logError("Selected index is not an image nor a series");
            return;
        }
        if (series->images.empty())
            return;
        image = series->images.front();
    }
    const auto datasets = m_model->datasetCache()->load(image->location, nullptr, nullptr, true);
    if (!datasets.empty())
        Q_EMIT updateTagsFromDataset(datasets.front());
}

void DicomBrowser::onUpdateTagsFromDataset(std::shared_ptr<DcmDataset> dataset)
{
    m_ui->tagsWidget->setDataset(std::move(dataset));
}

void DicomBrowser::onSavedRawBuffer(const QString& path)
{
    // Opened by the application's raw reader; a dialog of its own has no application to open it in.
    auto* window = qobject_cast<MainWindowBase*>(parent());
    if (!window) {
        QMessageBox::warning(this, tr("Not supported"),
                             tr("For technical reasons, this functionality is not supported from this Dicom browser"));
        return;
    }
    auto reader = std::make_unique<RawImageIoAlgorithm>(nullptr, IoAlgorithm::Read);
    reader->setLocation(path);
    window->runAlgorithm(std::move(reader));
}

void DicomBrowser::updateStats()
{
    const TreeCounts all = countRows(*m_model);
    const TreeCounts shown = countRows(*m_filterModel);
    QString text = QString::number(all.patients) + tr(" Patient");
    if (all.patients >= 2)
        text += QLatin1Char('s');
    if (all.patients != shown.patients)
        text += QStringLiteral(" (") + QString::number(shown.patients) + tr(" visible)");
    text += QStringLiteral(", ") + QString::number(all.studies) + tr(" Stud") +
            (all.studies < 2 ? QStringLiteral("y") : QStringLiteral("ies"));
    if (all.studies != shown.studies)
        text += QStringLiteral(" (") + QString::number(shown.studies) + tr(" visible)");
    text += QStringLiteral(", ") + QString::number(all.series) + tr(" Series");
    if (all.series != shown.series)
        text += QStringLiteral(" (") + QString::number(shown.series) + tr(" visible)");
    if (all != shown)
        text += tr("  -  Some filters active");
    if (!m_model->isScanning() && !m_model->skippedFiles().empty())
        text += QStringLiteral("  -  ") + tr("%1 (the list is in the log)").arg(m_model->skippedFiles().summary());
    m_ui->statsLabel->setText(text);
}

void DicomBrowser::scheduleStatsUpdate()
{
    if (m_statsUpdateQueued)
        return;
    m_statsUpdateQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_statsUpdateQueued = false;
            updateStats();
        },
        Qt::QueuedConnection);
}

void DicomBrowser::onMemoryLoaderQueueSizeChanged(int filesLeft)
{
    m_ui->memoryLoaderLabel->setToolTip(tr("Loading %1 selected files into memory").arg(filesLeft));
    m_ui->memoryLoaderLabel->setVisible(filesLeft >= 1);
    if (filesLeft >= 1)
        m_loadingMovieTiny->start();
    else
        m_loadingMovieTiny->stop();
}

// --- modalities ---------------------------------------------------------------------------------

std::vector<QString> DicomBrowser::selectedModalities()
{
    std::vector<QString> selected;
    for (int r = 0; r < m_modalitiesModel->rowCount(); ++r) {
        const QStandardItem* item = m_modalitiesModel->item(r);
        if (item->checkState() == Qt::Checked)
            selected.push_back(item->text());
    }
    return selected;
}

void DicomBrowser::addModality(const QString& modality)
{
    if (modality.isEmpty() || !m_modalitiesModel->findItems(modality, Qt::MatchExactly).isEmpty())
        return;
    auto* item = new QStandardItem(modality);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    item->setData(Qt::Unchecked, Qt::CheckStateRole);
    m_modalitiesModel->appendRow(item);
    m_modalitiesModel->sort(0, Qt::AscendingOrder);
    onModalitiesModelChanged();
}

void DicomBrowser::onModalitiesModelChanged()
{
    const std::vector<QString> selected = selectedModalities();
    QStringList texts;
    for (const QString& m : selected)
        texts << m;
    const QString text = texts.isEmpty() ? tr("Any") : texts.join(QStringLiteral(", "));
    QLineEdit* edit = m_ui->modalityComboBox->lineEdit();
    edit->setText(QFontMetrics(edit->font()).elidedText(text, Qt::ElideRight, edit->width() * 7 / 10));
    edit->setCursorPosition(0);
    m_filterModel->setModalitiesFilter(selected);
}

void DicomBrowser::rebuildModalities()
{
    m_modalitiesModel->clear();
    onModalitiesModelChanged();
    for (const Dicom::Patient* patient : m_model->patients())
        for (const Dicom::Study* study : patient->studies)
            for (const Dicom::Series* series : study->series)
                addModality(series->modality);
}

void DicomBrowser::mirrorModalitiesFilter(const std::vector<QString>& modalities)
{
    disconnect(m_modalitiesChangedConnection);
    for (int r = 0; r < m_modalitiesModel->rowCount(); ++r) {
        QStandardItem* item = m_modalitiesModel->item(r);
        const bool checked = std::find(modalities.begin(), modalities.end(), item->text()) != modalities.end();
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
    m_modalitiesChangedConnection =
        connect(m_modalitiesModel, &QStandardItemModel::dataChanged, this, &DicomBrowser::onModalitiesModelChanged);
}

// --- menus and configuration --------------------------------------------------------------------

void DicomBrowser::openContextMenu(const QPoint& location)
{
    QMenu menu(this);
    menu.addAction(tr("Select All"), this, &DicomBrowser::selectAll);
    menu.addAction(tr("Select None"), this, &DicomBrowser::selectNone);
    menu.addSeparator();
    menu.addAction(tr("Collapse All"), m_ui->view, &QTreeView::collapseAll);
    // Opens patients and studies, leaves series closed.
    menu.addAction(tr("Expand All"), m_ui->view, [this] { m_ui->view->expandToDepth(1); });
    if (auto* image = m_ui->view->currentIndex().data(DicomBrowserModel::ImageRole).value<Dicom::Image*>()) {
        menu.addSeparator();
        const QString path = QFile::decodeName(image->location.localFilePath().c_str());
        menu.addAction(tr("Copy Image Path"), this, [path] { QApplication::clipboard()->setText(path); });
        if (auto* window = qobject_cast<MainWindowBase*>(parent()))
            menu.addAction(tr("Open Image"), this, [window, path] {
                std::unique_ptr<Algorithm> reader =
                    window->registry().instantiateAlgorithm(QStringLiteral("Dicom.DicomIOAlgorithmFile"));
                auto* io = dynamic_cast<IoAlgorithm*>(reader.get());
                if (!io)
                    return;
                io->setLocation(path);
                window->runAlgorithm(std::move(reader));
            });
    }
    menu.exec(location);
}

void DicomBrowser::openConfigDialog()
{
    if (m_configDialog)
        m_configDialog->exec();
}

void DicomBrowser::setConfigDialog(QDialog* dialog)
{
    m_configDialog = dialog;
    m_configButton->setVisible(dialog != nullptr);
}

void DicomBrowser::setCurrentPath(const QString& path)
{
    m_ui->pathEdit->setEditText(path);
}

QString DicomBrowser::currentPath() const
{
    return m_ui->pathEdit->currentText();
}

void DicomBrowser::setBrowserModel(std::unique_ptr<DicomBrowserModel> other)
{
    m_model->clear();
    if (!other)
        return;
    for (Dicom::Patient* patient : other->takePatients())
        m_model->addPatient(patient);
}

void DicomBrowser::setDatasetCache(std::shared_ptr<Dicom::DatasetCache> cache)
{
    m_model->setDatasetCache(std::move(cache));
    m_memoryLoader->setDatasetCache(m_model->datasetCache());
}

}  // namespace Dravelin

#include "moc_DicomBrowser.cpp"
