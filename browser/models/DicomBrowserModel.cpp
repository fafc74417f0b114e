#include "browser/models/DicomBrowserModel.h"

#include "scanning/DimensionsText.h"
#include "browser/models/QtHelpers.h"
#include "browser/models/SeriesLocation.h"
#include "host/core/LocationString.h"
#include "host/core/Log.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/network/HttpError.h"
#include "scanning/ScannerQt.h"
#include "scanning/TreeMerger.h"

#include <QCalendar>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <algorithm>
#include <exception>
#include <mutex>
#include <optional>

namespace Dravelin {

using namespace Dicom;

namespace {

Base* record(const QModelIndex& index)
{
    return index.isValid() ? static_cast<Base*>(index.internalPointer()) : nullptr;
}

template <typename T>
int rowIn(const std::vector<T*>& list, const T* item)
{
    const auto it = std::find(list.begin(), list.end(), item);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

QString dateText(const QDate& date)
{
    return date.toString(Qt::TextDate);
}

QString timeText(const QTime& time)
{
    return time.toString(Qt::TextDate);
}

QString patientText(const Patient& p)
{
    QString name = p.patientName.isEmpty() ? QStringLiteral("<Empty>") : p.patientName;
    name.replace('^', ' ');
    const QString id = p.patientId.isEmpty() ? QStringLiteral("<Empty>") : p.patientId;
    return QStringLiteral("ID: %1 - Name: %2").arg(id, name);
}

QString studyText(const Study& s)
{
    const QString date = dateText(s.studyDate);
    if (s.studyDescription.isEmpty())
        return date;
    return DicomBrowserModel::tr("%1: %2").arg(date, s.studyDescription);
}

QString seriesText(const Series& s)
{
    if (!s.seriesNumber.isEmpty())
        return DicomBrowserModel::tr("Series %1: %2").arg(s.seriesNumber, s.seriesDescription);
    if (!s.seriesDescription.isEmpty())
        return DicomBrowserModel::tr("Series: %1").arg(s.seriesDescription);
    return DicomBrowserModel::tr("<Empty Series ID>");
}

DicomBrowserModel::ParameterList patientProperties(const Patient& p)
{
    return {{"Id", p.patientId},
            {"Name", QtHelpers::formatStr(p.patientName)},
            {"Sex", p.sex},
            {"Birth Date", dateText(p.birthDate)},
            {"Comment", QtHelpers::formatStr(p.comment)}};
}

DicomBrowserModel::ParameterList studyProperties(const Study& s)
{
    return {{"Instance UID", s.studyInstanceUid},
            {"Id", s.studyId},
            {"Time", timeText(s.studyTime)},
            {"Date", dateText(s.studyDate)},
            {"Description", QtHelpers::formatStr(s.studyDescription)}};
}

DicomBrowserModel::ParameterList seriesProperties(const Series& s)
{
    const QByteArray uid = s.sopClassUid.toUtf8();
    const char* name = dcmFindNameOfUID(uid.constData(), nullptr);
    const QString sopClass =
        QStringLiteral("%1 (%2)").arg(name ? QString::fromLatin1(name) : QStringLiteral("Unknown"), s.sopClassUid);
    DicomBrowserModel::ParameterList list{{"Instance UID", s.seriesInstanceUid},
                                          {"SOP Class UID", sopClass},
                                          {"Time", timeText(s.seriesTime)},
                                          {"Date", dateText(s.seriesDate)},
                                          {"Number", s.seriesNumber},
                                          {"Description", QtHelpers::formatStr(s.seriesDescription)},
                                          {"Modality", s.modality},
                                          {"Number of Files", QString::number(s.images.size())}};
    if (!s.dimensions.empty()) {
        QStringList texts;
        for (const auto& d : s.dimensions)
            texts << dimensionsText(d);
        list.append({"Dimensions", texts.join('\n')});
    } else {
        list.append({"Estimated Dimensions", dimensionsText(s.estimatedDimensions)});
    }
    return list;
}

DicomBrowserModel::ParameterList imageProperties(const Image& i)
{
    return {{"SOP Instance UID", i.sopInstanceUid},
            {"Instance Number", i.instanceNumberText},
            {"Image Type", i.imageType},
            {"width", i.width},
            {"height", i.height},
            {"channels", i.channels},
            {"bitsAllocated", i.bitsAllocated},
            {"numberOfFrames", i.numberOfFrames},
            {"sliceThickness", i.sliceThickness}};
}

// A sort key: the recorded wall-clock time as it is. UTC because local time asks the C library
// for the time zone on every value (a file system look-up per call while a view sorts).
QDateTime dateTime(const QDate& date, const QTime& time)
{
    return QDateTime(date, time, Qt::UTC);
}

}  // namespace

// The shared merge procedure, announcing every row it adds to the views.
class DicomBrowserModel::Merger : public TreeMerger
{
public:
    explicit Merger(DicomBrowserModel& model) : m_model(model) {}

protected:
    void aboutToInsertPatient(int row) override { m_model.beginInsertRows(QModelIndex(), row, row); }
    void patientInserted(int) override { m_model.endInsertRows(); }
    void aboutToInsertStudy(Patient* parent, int row) override
    {
        m_model.beginInsertRows(m_model.index(parent), row, row);
    }
    void studyInserted(Patient*, int) override { m_model.endInsertRows(); }
    void aboutToInsertSeries(Study* parent, int row) override
    {
        m_model.beginInsertRows(m_model.index(parent), row, row);
    }
    void seriesInserted(Study*, int) override { m_model.endInsertRows(); }
    void aboutToInsertImages(Series* parent, int first, int last) override
    {
        m_model.beginInsertRows(m_model.index(parent), first, last);
    }
    void imagesInserted(Series*, int, int) override { m_model.endInsertRows(); }
    void seriesChanged(Series* series) override
    {
        // "Number of Files" and the estimate changed: one notice for all images of the merge,
        // not one per image (each repaints the row and refreshes the Info tab).
        const QModelIndex index = m_model.index(series);
        Q_EMIT m_model.dataChanged(index, index.siblingAtColumn(ImageCountColumn), {PropertiesRole});
    }

private:
    DicomBrowserModel& m_model;
};

DicomBrowserModel::DicomBrowserModel(std::shared_ptr<DatasetCache> cache, QObject* parent) : QAbstractItemModel(parent)
{
    // Loads the calendar registry once here, on the GUI thread, instead of lazily from a
    // worker that formats a date.
    (void)QCalendar::availableCalendars();
    registerMetaTypes();
    setDatasetCache(std::move(cache));
}

DicomBrowserModel::DicomBrowserModel(const std::vector<std::shared_ptr<DcmDataset>>& datasets,
                                     const std::vector<std::string>& datasetPaths, std::shared_ptr<DatasetCache> cache,
                                     QObject* parent)
    : DicomBrowserModel(std::move(cache), parent)
{
    if (datasets.size() != datasetPaths.size()) {
        DRAVELIN_LOG(4, "DICOM", "datasets and datasetPaths must have the same length!");
        return;
    }
    for (size_t i = 0; i < datasets.size(); ++i) {
        if (!datasets[i])
            continue;
        auto* patient = new Patient(*datasets[i], true);
        const auto location = Filesystem::Url::fromLocalFile(datasetPaths[i]);
        for (Study* study : patient->studies)
            for (Series* series : study->series)
                for (Image* image : series->images)
                    image->location = location;
        addPatient(patient);
    }
}

DicomBrowserModel::~DicomBrowserModel()
{
    // Worker threads read the tree and the scanner: stop them before either goes.
    stopDimensionUpdate();
    if (m_scanner)
        m_scanner->cancel();
    if (m_scanFuture.valid())
        m_scanFuture.wait();
    m_retrievalFutures.clear();
    m_scanner.reset();
    for (Patient* p : m_patients)
        delete p;
}

void DicomBrowserModel::registerMetaTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<ParameterList>("Dravelin::DicomBrowserModel::ParameterList");
        qRegisterMetaType<Patient*>("Dravelin::Dicom::Patient*");
        qRegisterMetaType<Study*>("Dravelin::Dicom::Study*");
        qRegisterMetaType<Series*>("Dravelin::Dicom::Series*");
        qRegisterMetaType<Image*>("Dravelin::Dicom::Image*");
        qRegisterMetaType<PacsSeriesProxy*>("Dravelin::Dicom::PacsSeriesProxy*");
        qRegisterMetaType<std::shared_ptr<DcmDataset>>("std::shared_ptr<DcmDataset>");
        qRegisterMetaType<Filesystem::Url>("Filesystem::Url");
        qRegisterMetaType<Filesystem::Url>("Dravelin::Filesystem::Url");
        qRegisterMetaType<Network::HttpStatus>("Network::HttpStatus");
        qRegisterMetaType<Network::HttpStatus>("Dravelin::Network::HttpStatus");
        qRegisterMetaType<DicomPacsConfiguration>("Dravelin::DicomPacsConfiguration");
    });
}

void DicomBrowserModel::setDatasetCache(std::shared_ptr<DatasetCache> cache)
{
    m_datasetCache = cache ? std::move(cache) : std::make_shared<DatasetCache>(2048);
}

// --- typed access ----------------------------------------------------------------------------

Patient* DicomBrowserModel::toPatient(const QModelIndex& index)
{
    return dynamic_cast<Patient*>(record(index));
}

Study* DicomBrowserModel::toStudy(const QModelIndex& index)
{
    return dynamic_cast<Study*>(record(index));
}

Series* DicomBrowserModel::toSeries(const QModelIndex& index)
{
    return dynamic_cast<Series*>(record(index));
}

Image* DicomBrowserModel::toImage(const QModelIndex& index)
{
    return dynamic_cast<Image*>(record(index));
}

PacsSeriesProxy* DicomBrowserModel::toPacsSeriesPlaceholder(const QModelIndex& index)
{
    return dynamic_cast<PacsSeriesProxy*>(record(index));
}

int DicomBrowserModel::rowOf(const Patient* patient) const
{
    return rowIn(m_patients, patient);
}

QModelIndex DicomBrowserModel::index(Patient* patient) const
{
    const int row = rowOf(patient);
    return row < 0 ? QModelIndex() : createIndex(row, 0, static_cast<Base*>(patient));
}

QModelIndex DicomBrowserModel::index(Study* study) const
{
    if (!study || !study->patient)
        return {};
    const int row = rowIn(study->patient->studies, study);
    return row < 0 ? QModelIndex() : createIndex(row, 0, static_cast<Base*>(study));
}

QModelIndex DicomBrowserModel::index(Series* series) const
{
    if (!series || !series->study)
        return {};
    const int row = rowIn(series->study->series, series);
    return row < 0 ? QModelIndex() : createIndex(row, 0, static_cast<Base*>(series));
}

QModelIndex DicomBrowserModel::index(PacsSeriesProxy* proxy) const
{
    if (!proxy || !proxy->study || proxy->study->pacsSeriesProxy != proxy)
        return {};
    return createIndex(static_cast<int>(proxy->study->series.size()), 0, static_cast<Base*>(proxy));
}

// --- QAbstractItemModel ------------------------------------------------------------------------

QModelIndex DicomBrowserModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount)
        return {};
    const auto make = [&](Base* b) { return createIndex(row, column, b); };
    if (!parent.isValid()) {
        if (row < static_cast<int>(m_patients.size()))
            return make(m_patients[row]);
        return {};
    }
    if (Patient* p = toPatient(parent)) {
        if (row < static_cast<int>(p->studies.size()))
            return make(p->studies[row]);
        return {};
    }
    if (Study* s = toStudy(parent)) {
        const int n = static_cast<int>(s->series.size());
        if (row < n)
            return make(s->series[row]);
        if (row == n && s->pacsSeriesProxy)
            return make(s->pacsSeriesProxy);
        return {};
    }
    if (Series* s = toSeries(parent)) {
        if (row < static_cast<int>(s->images.size()))
            return make(s->images[row]);
    }
    return {};
}

QModelIndex DicomBrowserModel::parent(const QModelIndex& child) const
{
    Base* b = record(child);
    if (!b || dynamic_cast<Patient*>(b))
        return {};
    if (auto* study = dynamic_cast<Study*>(b)) {
        if (!study->patient)
            return {};
        return createIndex(rowOf(study->patient), 0, static_cast<Base*>(study->patient));
    }
    Study* study = nullptr;
    if (auto* series = dynamic_cast<Series*>(b))
        study = series->study;
    else if (auto* image = dynamic_cast<Image*>(b)) {
        Series* series = image->series;
        if (!series)
            return {};
        const int row = series->study ? rowIn(series->study->series, static_cast<const Series*>(series)) : -1;
        return createIndex(row, 0, static_cast<Base*>(series));
    } else if (auto* proxy = dynamic_cast<PacsSeriesProxy*>(b))
        study = proxy->study;
    if (!study)
        return {};
    const int row = study->patient ? rowIn(study->patient->studies, static_cast<const Study*>(study)) : -1;
    return createIndex(row, 0, static_cast<Base*>(study));
}

int DicomBrowserModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(m_patients.size());
    if (parent.column() != 0)
        return 0;
    if (Patient* p = toPatient(parent))
        return static_cast<int>(p->studies.size());
    if (Study* s = toStudy(parent))
        return static_cast<int>(s->series.size()) + (s->pacsSeriesProxy ? 1 : 0);
    if (Series* s = toSeries(parent))
        return static_cast<int>(s->images.size());
    return 0;
}

int DicomBrowserModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant DicomBrowserModel::data(const QModelIndex& index, int role) const
{
    Base* b = record(index);
    if (!b)
        return {};
    if (index.column() == ImageCountColumn) {
        // The count column answers the record roles as the tree column does (a click there makes
        // it current), but shows only the count and has no check box or picture.
        switch (role) {
            case Qt::DisplayRole:
                if (auto* series = dynamic_cast<Series*>(b))
                    return static_cast<int>(series->images.size());
                return {};
            case Qt::TextAlignmentRole: return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
            case Qt::CheckStateRole:
            case Qt::DecorationRole: return {};
            default: return data(createIndex(index.row(), TreeColumn, index.internalPointer()), role);
        }
    }
    if (auto* p = dynamic_cast<Patient*>(b)) {
        switch (role) {
            case Qt::DisplayRole: return patientText(*p);
            case Qt::CheckStateRole: return static_cast<int>(isChecked(p));
            case PropertiesRole: return QVariant::fromValue(patientProperties(*p));
            case SortRole: return QString(p->patientName + " " + p->patientId);
            case PatientRole: return QVariant::fromValue(p);
            default: return {};
        }
    }
    if (auto* s = dynamic_cast<Study*>(b)) {
        switch (role) {
            case Qt::DisplayRole: return studyText(*s);
            case Qt::CheckStateRole: return static_cast<int>(isChecked(s));
            case PropertiesRole: return QVariant::fromValue(studyProperties(*s));
            case SortRole: return dateTime(s->studyDate, s->studyTime);
            case StudyRole: return QVariant::fromValue(s);
            default: return {};
        }
    }
    if (auto* s = dynamic_cast<Series*>(b)) {
        switch (role) {
            case Qt::DisplayRole: return seriesText(*s);
            case Qt::CheckStateRole: return s->checked ? 2 : 0;
            case PropertiesRole: return QVariant::fromValue(seriesProperties(*s));
            case Qt::DecorationRole: {
                const auto it = m_thumbnails.find(s);
                return it == m_thumbnails.end() || it->second.isNull() ? QVariant() : QVariant(it->second);
            }
            case SortRole:
                return QString(s->seriesNumber + " " + dateTime(s->seriesDate, s->seriesTime).toString(Qt::ISODate) +
                               " " + s->seriesDescription);
            case SeriesRole: return QVariant::fromValue(s);
            default: return {};
        }
    }
    if (auto* i = dynamic_cast<Image*>(b)) {
        switch (role) {
            case Qt::DisplayRole: return QUrl(QString::fromStdString(i->location.string()));
            case PropertiesRole: return QVariant::fromValue(imageProperties(*i));
            case SortRole: return QString();
            case ImageRole: return QVariant::fromValue(i);
            default: return {};
        }
    }
    if (auto* proxy = dynamic_cast<PacsSeriesProxy*>(b)) {
        switch (role) {
            case Qt::DisplayRole: return QStringLiteral("...");
            case PacsSeriesProxyRole: return QVariant::fromValue(proxy);
            default: return {};
        }
    }
    return {};
}

bool DicomBrowserModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole)
        return false;
    const int state = value.toInt();
    if (Series* s = toSeries(index)) {
        s->checked = state == Qt::Checked;
        Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
        const QModelIndex study = this->index(s->study);
        if (study.isValid())
            Q_EMIT dataChanged(study, study, {Qt::CheckStateRole});
        const QModelIndex patient = s->study ? this->index(s->study->patient) : QModelIndex();
        if (patient.isValid())
            Q_EMIT dataChanged(patient, patient, {Qt::CheckStateRole});
        return true;
    }
    if (Study* s = toStudy(index)) {
        if (state != Qt::PartiallyChecked)
            for (Series* series : s->series)
                setData(this->index(series), value, role);
        Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
        return true;
    }
    if (Patient* p = toPatient(index)) {
        if (state != Qt::PartiallyChecked)
            for (Study* study : p->studies)
                setData(this->index(study), value, role);
        Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
        return true;
    }
    return false;
}

Qt::ItemFlags DicomBrowserModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractItemModel::flags(index);
    Base* b = record(index);
    if (index.column() == TreeColumn &&
        (dynamic_cast<Patient*>(b) || dynamic_cast<Study*>(b) || dynamic_cast<Series*>(b)))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

// --- check states ----------------------------------------------------------------------------

Qt::CheckState DicomBrowserModel::isChecked(Study* study)
{
    if (!study || study->series.empty())
        return Qt::Unchecked;
    size_t checked = 0;
    for (const Series* s : study->series)
        checked += s->checked ? 1 : 0;
    if (checked == 0)
        return Qt::Unchecked;
    return checked == study->series.size() ? Qt::Checked : Qt::PartiallyChecked;
}

Qt::CheckState DicomBrowserModel::isChecked(Patient* patient)
{
    if (!patient || patient->studies.empty())
        return Qt::Unchecked;
    bool allChecked = true;
    bool allUnchecked = true;
    for (Study* s : patient->studies) {
        const Qt::CheckState state = isChecked(s);
        allChecked = allChecked && state == Qt::Checked;
        allUnchecked = allUnchecked && state == Qt::Unchecked;
    }
    if (allUnchecked)
        return Qt::Unchecked;
    return allChecked ? Qt::Checked : Qt::PartiallyChecked;
}

QList<Series*> DicomBrowserModel::selectedSeries() const
{
    QList<Series*> result;
    for (Patient* p : m_patients)
        for (Study* st : p->studies)
            for (Series* s : st->series)
                if (s->checked)
                    result.append(s);
    return result;
}

// --- tree changes ----------------------------------------------------------------------------

void DicomBrowserModel::addPatient(Patient* patient)
{
    if (!patient)
        return;
    Merger(*this).merge(m_patients, patient);
}

void DicomBrowserModel::remove(PacsSeriesProxy* psp)
{
    // A queued removal may name a placeholder that is gone already (tree cleared, or resolved
    // by a blocking retrieval), so the pointer is only followed once the tree holds it.
    const auto inTree = [this, psp] {
        for (const Patient* p : m_patients)
            for (const Study* s : p->studies)
                if (s->pacsSeriesProxy == psp)
                    return true;
        return false;
    };
    if (!psp || !inTree() || !psp->study || psp->study->pacsSeriesProxy != psp)
        return;
    Study* study = psp->study;
    const QModelIndex parent = index(study);
    if (!parent.isValid()) {  // a study the views do not show: no rows to announce
        study->pacsSeriesProxy = nullptr;
        delete psp;
        return;
    }
    const int row = static_cast<int>(study->series.size());
    beginRemoveRows(parent, row, row);
    study->pacsSeriesProxy = nullptr;
    delete psp;
    endRemoveRows();
}

void DicomBrowserModel::setSeriesThumbnail(const QModelIndex& series, const QImage& thumbnail)
{
    Series* s = toSeries(series);
    if (!s || series.model() != this)
        return;
    m_thumbnails[s] = thumbnail;
    const QModelIndex row = series.siblingAtColumn(TreeColumn);
    Q_EMIT dataChanged(row, row, {Qt::DecorationRole});
}

void DicomBrowserModel::clear()
{
    stopDimensionUpdate();
    ++m_dimensionGeneration;
    beginResetModel();
    m_thumbnails.clear();
    for (Patient* p : m_patients)
        delete p;
    m_patients.clear();
    endResetModel();
}

std::vector<Patient*> DicomBrowserModel::takePatients()
{
    stopDimensionUpdate();
    beginResetModel();
    m_thumbnails.clear();
    std::vector<Patient*> taken;
    taken.swap(m_patients);
    endResetModel();
    return taken;
}

// --- scanning --------------------------------------------------------------------------------

bool DicomBrowserModel::isBusy() const
{
    // A dimension update reads the tree without locks, so nothing may merge into it meanwhile.
    return !m_scannerIdle.load() || m_pendingRetrievals.load() > 0 || !m_dimensionsStopped.load();
}

void DicomBrowserModel::runGuarded(const ScanFunction& scan, ScannerQt& scanner)
{
    try {
        scan(scanner);
    } catch (const std::exception& e) {
        Log::log(4, "DICOM", std::string("Scanning failed: ") + e.what(), __FILE__, __LINE__);
    } catch (...) {
        Log::log(4, "DICOM", "Scanning failed with an unknown error", __FILE__, __LINE__);
    }
}

void DicomBrowserModel::startScan(DicomPacsConfiguration* pacs, bool withErrorHandler)
{
    auto scanner = std::make_unique<ScannerQt>(m_datasetCache);
    m_scanner = std::move(scanner);
    m_scanner->setDatasetCache(m_datasetCache);
    m_scannerIdle = false;
    m_scanning = true;
    m_skipped.clear();
    if (pacs) {
        auto connection = std::make_unique<DicomPacsCommunication>(DicomPacsConfiguration(*pacs));
        m_pacsConnection = std::move(connection);
        if (withErrorHandler)
            m_pacsConnection->setErrorHandler(
                [](const Dicom::Error& error) { Log::log(4, "DICOM", error.message, __FILE__, __LINE__); });
        m_scanner->setPacs(m_pacsConnection.get());
    } else {
        m_pacsConnection.reset();
    }
    Q_EMIT isScanningChanged(true);
}

void DicomBrowserModel::emitScanProgress()
{
    const int maximum = m_progressMaximum.load();
    const int value = m_progressValue.load();
    if (maximum < 0)
        return;
    if (maximum != m_emittedProgressMaximum) {
        m_emittedProgressMaximum = maximum;
        Q_EMIT scanProgressRangeChanged(0, maximum);
    }
    if (value >= 0 && value != m_emittedProgressValue) {
        m_emittedProgressValue = value;
        Q_EMIT scanProgressValueChanged(value);
    }
}

void DicomBrowserModel::pumpScanReports(const Dicom::ScannerQt* scanner)
{
    // A newer scan has its own pump; the end of the scan delivers the rest (see scanAsync).
    if (m_scanner.get() != scanner || m_scannerIdle.load())
        return;
    emitScanProgress();
    processPatientsFromMainthread();
    QTimer::singleShot(reportIntervalMs, this, [this, scanner] { pumpScanReports(scanner); });
}

void DicomBrowserModel::scanAsync(DicomPacsConfiguration* pacs, ScanFunction scan)
{
    if (isBusy()) {
        Log::log(4, "DICOM", "Scanner is already running", __FILE__, __LINE__);
        return;
    }
    startScan(pacs, true);
    ScannerQt* scanner = m_scanner.get();
    // A folder scan reports every file: one queued event per report would flood the GUI thread
    // (three per file). The worker only records its progress; a pump on the GUI thread picks up
    // progress and new patients every few milliseconds while the scan runs.
    m_progressMaximum = -1;
    m_progressValue = -1;
    m_emittedProgressMaximum = -1;
    m_emittedProgressValue = -1;
    connect(
        scanner, &ScannerQt::progressRangeChanged, this, [this](int, int maximum) { m_progressMaximum = maximum; },
        Qt::DirectConnection);
    connect(
        scanner, &ScannerQt::progressValueChanged, this, [this](int value) { m_progressValue = value; },
        Qt::DirectConnection);
    connect(scanner, &ScannerQt::progressTextChanged, this, &DicomBrowserModel::scanProgressTextChanged,
            Qt::QueuedConnection);
    // Placeholder retrievals run after the scan, when no pump runs: their patients are announced
    // with at most one queued event at a time.
    connect(
        scanner, &ScannerQt::patientAdded, this,
        [this] {
            if (m_scannerIdle.load() && !m_patientsPosted.exchange(true))
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        m_patientsPosted = false;
                        processPatientsFromMainthread();
                    },
                    Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    connect(scanner, &ScannerQt::pacsProxyRemoved, this, &DicomBrowserModel::remove, Qt::QueuedConnection);
    m_scanFuture = std::async([this, scanner, scan = std::move(scan)] {
        runGuarded(scan, *scanner);
        m_scannerIdle = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                emitScanProgress();
                processPatientsFromMainthread();
            },
            Qt::QueuedConnection);
        Log::log(0, "Dicom", "Finished scanning", __FILE__, __LINE__);
    });
    QTimer::singleShot(reportIntervalMs, this, [this, scanner] { pumpScanReports(scanner); });
}

void DicomBrowserModel::scanBlocking(DicomPacsConfiguration* pacs, ScanFunction scan)
{
    if (isBusy()) {
        Log::log(4, "DICOM", "Scanner is already running", __FILE__, __LINE__);
        return;
    }
    startScan(pacs, false);
    runGuarded(scan, *m_scanner);
    mergeScannedPatients();
    if (m_updateSeriesDimensionsAfterScan) {
        for (Series* series : allSeries()) {
            try {
                series->updateDimensions(m_datasetCache);
            } catch (const std::exception& e) {
                Log::log(4, "DICOM",
                         "Could not update the dimensions of series " + series->seriesInstanceUid.toStdString() + ": " +
                             e.what(),
                         __FILE__, __LINE__);
            }
        }
    }
    m_scannerIdle = true;
    finishScanning();
}

void DicomBrowserModel::finishScanning()
{
    m_scanning = false;
    Q_EMIT isScanningChanged(false);
}

void DicomBrowserModel::takeScannedPatients()
{
    for (auto& patient : m_scanner->takePatients())
        m_pendingPatients.push_back(std::move(patient));
}

bool DicomBrowserModel::mergePending(int budgetMs)
{
    QElapsedTimer clock;
    clock.start();
    Merger merger(*this);
    bool whole = true;
    for (; !m_pendingPatients.empty(); m_pendingPatients.pop_front()) {
        if (budgetMs >= 0 && clock.elapsed() >= budgetMs) {
            whole = false;
            break;
        }
        merger.add(m_patients, m_pendingPatients.front().release());
    }
    merger.finish();
    return whole;
}

void DicomBrowserModel::mergeScannedPatients()
{
    takeScannedPatients();
    mergePending(-1);
}

void DicomBrowserModel::processPatientsFromMainthread()
{
    if (!m_scanner)
        return;
    const bool idle = m_scannerIdle.load();
    // Only finished retrievals are forgotten: dropping the future of a running one waits for
    // it, which froze the GUI thread for as long as the retrieval took.
    m_retrievalFutures.erase(std::remove_if(m_retrievalFutures.begin(), m_retrievalFutures.end(),
                                            [](std::future<void>& f) {
                                                return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
                                            }),
                             m_retrievalFutures.end());
    takeScannedPatients();
    // A scan outpaces the merging whenever the event loop falls behind; merging such a backlog
    // in one go would freeze the views, so it is merged in slices between other events.
    if (!mergePending(m_cancelling ? -1 : mergeSliceMs)) {
        if (!m_mergeQueued) {
            m_mergeQueued = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_mergeQueued = false;
                    processPatientsFromMainthread();
                },
                Qt::QueuedConnection);
        }
        return;
    }
    if (!idle)
        return;
    if (m_scanning && m_updateSeriesDimensionsAfterScan && !m_cancelling) {
        updateSeriesDimensionsAsync();
        return;
    }
    if (m_scanning)
        finishScanning();
    Log::log(0, "DICOM", "Finished retrieving patients from scanner", __FILE__, __LINE__);
}

void DicomBrowserModel::scanDirectoryAsync(QString directory, bool recursive, bool useDicomdirOnly,
                                           bool checkDicomHeader)
{
    scanAsync(nullptr, [=](ScannerQt& s) {
        s.setSkippedFileHandler(
            [this](const QString& file, Dicom::Scanner::SkipReason reason) { m_skipped.add(file, reason); });
        s.scanDirectory(directory, recursive, useDicomdirOnly, checkDicomHeader);
    });
}

void DicomBrowserModel::scanDirectoryBlocking(QString directory, bool recursive, bool useDicomdirOnly,
                                              bool checkDicomHeader)
{
    scanBlocking(nullptr,
                 [=](ScannerQt& s) { s.scanDirectory(directory, recursive, useDicomdirOnly, checkDicomHeader); });
}

void DicomBrowserModel::scanDicomDirAsync(QString dicomDirFile)
{
    scanAsync(nullptr, [=](ScannerQt& s) { s.scanDicomDir(dicomDirFile); });
}

void DicomBrowserModel::scanDicomDirBlocking(QString dicomDirFile)
{
    scanBlocking(nullptr, [=](ScannerQt& s) { s.scanDicomDir(dicomDirFile); });
}

void DicomBrowserModel::scanWebAsync(Filesystem::Url url)
{
    scanAsync(nullptr, [this, url](ScannerQt& s) {
        if (const auto error = s.scanWeb(url))
            Q_EMIT scanHttpError(QString::fromUtf8(error->message.c_str()), error->status);
    });
}

void DicomBrowserModel::scanWebBlocking(Filesystem::Url url)
{
    scanBlocking(nullptr, [this, url](ScannerQt& s) {
        if (const auto error = s.scanWeb(url))
            Q_EMIT scanHttpError(QString::fromUtf8(error->message.c_str()), error->status);
    });
}

void DicomBrowserModel::scanPacsAsync(DicomPacsConfiguration pacs, QString patientNameFilter, QString studyFilter)
{
    scanAsync(&pacs, [=](ScannerQt& s) { s.scanPacs(patientNameFilter, studyFilter); });
}

void DicomBrowserModel::scanPacsBlocking(DicomPacsConfiguration pacs, QString patientNameFilter, QString studyFilter)
{
    scanBlocking(&pacs, [=](ScannerQt& s) { s.scanPacs(patientNameFilter, studyFilter); });
}

void DicomBrowserModel::getPacsSeriesAsync(PacsSeriesProxy* pcp)
{
    if (!m_scanner || !m_pacsConnection) {
        Log::log(4, "DICOM", "Internal error: Previous scan was not a PACS", __FILE__, __LINE__);
        return;
    }
    ++m_pendingRetrievals;
    ScannerQt* scanner = m_scanner.get();
    m_retrievalFutures.push_back(std::async([this, scanner, pcp] {
        try {
            scanner->scanPacsSeries(pcp);
        } catch (const std::exception& e) {
            Log::log(4, "DICOM", std::string("Getting series from PACS failed: ") + e.what(), __FILE__, __LINE__);
        }
        --m_pendingRetrievals;
        Log::log(0, "DICOM", "Finished getting series proxy", __FILE__, __LINE__);
    }));
}

void DicomBrowserModel::getPacsSeriesBlocking(PacsSeriesProxy* pcp)
{
    if (!m_scanner || !m_pacsConnection) {
        Log::log(4, "DICOM", "Internal error: Previous scan was not a PACS", __FILE__, __LINE__);
        return;
    }
    try {
        m_scanner->scanPacsSeries(pcp);
    } catch (const std::exception& e) {
        Log::log(4, "DICOM", std::string("Getting series from PACS failed: ") + e.what(), __FILE__, __LINE__);
    }
    mergeScannedPatients();
    remove(pcp);
}

std::vector<Series*> DicomBrowserModel::allSeries() const
{
    std::vector<Series*> result;
    for (Patient* p : m_patients)
        for (Study* st : p->studies)
            result.insert(result.end(), st->series.begin(), st->series.end());
    return result;
}

void DicomBrowserModel::updateSeriesDimensionsAsync()
{
    if (!m_dimensionsStopped.load())
        return;
    // Taken here, on the model's thread; the tree does not change while the update runs.
    std::vector<Series*> series = allSeries();
    Q_EMIT scanProgressRangeChanged(0, static_cast<int>(series.size()));
    Q_EMIT scanProgressTextChanged(tr("Determining series kinds..."));
    Log::log(1, "DICOM", "Starting updating series kinds", __FILE__, __LINE__);
    m_dimensionsStopped = false;
    const unsigned generation = m_dimensionGeneration;
    m_dimensionFuture = std::async([this, series = std::move(series), cache = m_datasetCache, generation] {
        const auto endScanning = [this] {
            if (m_scanning.exchange(false))
                QMetaObject::invokeMethod(this, "isScanningChanged", Qt::QueuedConnection, Q_ARG(bool, false));
        };
        int counter = 0;
        for (Series* s : series) {
            if (m_dimensionsStopped.load()) {
                Log::log(1, "DICOM", "Updating series kinds cancelled", __FILE__, __LINE__);
                endScanning();
                return;
            }
            // The GUI thread shows the series meanwhile: it alone stores the result.
            std::vector<DimensionsInfo> dimensions;
            try {
                dimensions = s->loadDimensions(cache);
            } catch (const std::exception& e) {
                Log::log(
                    4, "DICOM",
                    "Could not update the dimensions of series " + s->seriesInstanceUid.toStdString() + ": " + e.what(),
                    __FILE__, __LINE__);
            }
            QMetaObject::invokeMethod(
                this,
                [this, s, generation, dimensions = std::move(dimensions)] {
                    if (generation != m_dimensionGeneration)
                        return;  // the tree was cleared meanwhile
                    s->dimensions = dimensions;
                    const QModelIndex row = index(s);
                    if (row.isValid())
                        Q_EMIT dataChanged(row, row.siblingAtColumn(columnCount(row.parent()) - 1));
                },
                Qt::QueuedConnection);
            ++counter;
            QMetaObject::invokeMethod(this, "scanProgressValueChanged", Qt::QueuedConnection, Q_ARG(int, counter));
        }
        Log::log(1, "DICOM", "Updating series kinds finished", __FILE__, __LINE__);
        m_dimensionsStopped = true;
        if (m_scanning.load()) {
            endScanning();
            Log::log(0, "DICOM", "Finished retrieving patients from scanner", __FILE__, __LINE__);
        }
    });
}

void DicomBrowserModel::stopDimensionUpdate()
{
    if (m_dimensionsStopped.load())
        return;
    Log::log(1, "DICOM", "Cancelling updating series kinds.", __FILE__, __LINE__);
    m_dimensionsStopped = true;
    if (m_dimensionFuture.valid())
        m_dimensionFuture.wait();
}

bool DicomBrowserModel::cancelScan(std::chrono::milliseconds timeout)
{
    stopDimensionUpdate();
    if (!m_scanner)
        return true;
    m_scanner->cancel();
    const auto finished = [timeout](std::future<void>& f) {
        if (timeout.count() <= 0)
            return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        return f.wait_for(timeout) == std::future_status::ready;
    };
    // What a stopped scan left is merged, but a cancelled scan starts no dimension update.
    m_cancelling = true;
    if (m_scanFuture.valid()) {
        if (!finished(m_scanFuture)) {
            m_cancelling = false;
            Log::log(3, "DICOM", "Could not cancel scanning.", __FILE__, __LINE__);
            return false;
        }
        processPatientsFromMainthread();
    }
    while (!m_retrievalFutures.empty()) {
        if (!finished(m_retrievalFutures.front())) {
            m_cancelling = false;
            Log::log(3, "DICOM", "Could not cancel C-MOVE request.", __FILE__, __LINE__);
            return false;
        }
        processPatientsFromMainthread();
    }
    m_cancelling = false;
    return true;
}

// --- location strings ------------------------------------------------------------------------

std::string DicomBrowserModel::retrieveLocationString(const std::vector<Series*>& series, bool checkDicomHeader)
{
    std::vector<std::string> locations;
    for (const Series* s : series)
        if (s)
            if (const std::optional<Filesystem::Url> location = SeriesLocation::of(*s, checkDicomHeader))
                locations.push_back(location->string(Filesystem::Url::LoaderEncoded));
    return Filesystem::joinLocationString(locations);
}

}  // namespace Dravelin

#include "moc_DicomBrowserModel.cpp"
