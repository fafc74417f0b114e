#include "browser/models/DicomBrowserFilterModel.h"

#include "host/core/NaturalOrder.h"
#include "browser/models/DicomBrowserModel.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QLocale>
#include <QRegExp>
#include <QRegularExpression>

#include <algorithm>
#include <mutex>

namespace Dravelin {

using namespace Dicom;

namespace {

template <typename T>
T* pointer(const QModelIndex& index, int role)
{
    const QVariant value = index.data(role);
    return value.canConvert<T*>() ? value.value<T*>() : nullptr;
}

bool isMissing(const QString& text)
{
    return text.isEmpty() || text == QLatin1String("?");
}

}  // namespace

DicomBrowserFilterModel::DicomBrowserFilterModel(QObject* parent)
    : QSortFilterProxyModel(parent), m_collator(naturalOrderCollator())
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<std::vector<QString>>("std::vector<QString>");
        qRegisterMetaType<std::optional<DateRange>>("std::optional<std::tuple<QDate,QDate> >");
    });
}

void DicomBrowserFilterModel::setOriginalOnly(bool flag)
{
    m_originalOnly = flag;
    invalidateFilter();
}

void DicomBrowserFilterModel::setModalitiesFilter(std::vector<QString> modalities)
{
    if (modalities == m_modalitiesFilter)
        return;
    m_modalitiesFilter = std::move(modalities);
    invalidateFilter();
    Q_EMIT modalitiesFilterChanged(m_modalitiesFilter);
}

void DicomBrowserFilterModel::setDateFilter(std::optional<std::tuple<QDate, QDate>> dateFilter)
{
    if (dateFilter == m_dateFilter)
        return;
    m_dateFilter = std::move(dateFilter);
    invalidateFilter();
    Q_EMIT dateFilterChanged(m_dateFilter);
}

void DicomBrowserFilterModel::setImagesVisible(bool hide)
{
    m_imagesVisible = hide;
}

void DicomBrowserFilterModel::setFilterInvalidSeries(bool filter)
{
    m_filterInvalidSeries = filter;
    invalidate();
}

bool DicomBrowserFilterModel::hasNonEmptyFilter() const
{
    return !filterRegExp().pattern().isEmpty() || !filterRegularExpression().pattern().isEmpty();
}

bool DicomBrowserFilterModel::matchesFilter(const QString& text) const
{
    // setFilterFixedString and setFilterRegExp keep a QRegExp, setFilterRegularExpression the other.
    const QRegExp regExp = filterRegExp();
    if (!regExp.pattern().isEmpty())
        return text.indexOf(regExp) >= 0;
    return text.indexOf(filterRegularExpression()) >= 0;
}

bool DicomBrowserFilterModel::isInvalidImage(const Image* image)
{
    return !image || isMissing(image->bitsAllocated) || isMissing(image->width) || isMissing(image->height) ||
           isMissing(image->channels);
}

DicomBrowserFilterModel::DateRange DicomBrowserFilterModel::getFilterDateRange(const Series& series)
{
    if (series.seriesDate.isValid())
        return {series.seriesDate, series.seriesDate};
    if (series.study && series.study->studyDate.isValid())
        return {series.study->studyDate, series.study->studyDate};
    return {QDate(), QDate()};
}

bool DicomBrowserFilterModel::filterAcceptsSeries(const Series& series) const
{
    if (m_originalOnly && (!series.imageType.startsWith(QLatin1String("ORIGINAL")) ||
                           series.imageType.contains(QLatin1String("LOCALIZER"))))
        return false;
    if (!m_modalitiesFilter.empty() &&
        std::find(m_modalitiesFilter.begin(), m_modalitiesFilter.end(), series.modality) == m_modalitiesFilter.end())
        return false;
    if (m_filterInvalidSeries &&
        std::any_of(series.images.begin(), series.images.end(), [](const Image* i) { return isInvalidImage(i); }))
        return false;
    if (m_dateFilter) {
        const auto [first, last] = getFilterDateRange(series);
        const auto& [from, to] = *m_dateFilter;
        if (!first.isValid() || !last.isValid() || !(from <= first) || !(last <= to))
            return false;
    }
    if (series.study && filterAcceptsStudy(*series.study, false))
        return true;
    return !hasNonEmptyFilter() || matchesFilter(series.seriesDescription);
}

bool DicomBrowserFilterModel::filterAcceptsStudy(const Study& study, bool checkChildren) const
{
    if (hasNonEmptyFilter() && (matchesFilter(study.studyDescription) || matchesFilter(study.studyId)))
        return true;
    if (study.patient && filterAcceptsPatient(*study.patient, false))
        return true;
    if (checkChildren && std::any_of(study.series.begin(), study.series.end(),
                                     [this](const Series* s) { return filterAcceptsSeries(*s); }))
        return true;
    return study.pacsSeriesProxy != nullptr;
}

bool DicomBrowserFilterModel::filterAcceptsPatient(const Patient& patient, bool checkChildren) const
{
    if (hasNonEmptyFilter() && (matchesFilter(patient.patientName) || matchesFilter(patient.comment)))
        return true;
    if (checkChildren)
        return std::any_of(patient.studies.begin(), patient.studies.end(),
                           [this](const Study* s) { return filterAcceptsStudy(*s, true); });
    return false;
}

bool DicomBrowserFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (!sourceModel())
        return false;
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    if (!index.isValid())
        return false;
    if (index.data(DicomBrowserModel::PatientRole).isValid()) {
        const Patient* p = pointer<Patient>(index, DicomBrowserModel::PatientRole);
        return !p || filterAcceptsPatient(*p, true);
    }
    if (index.data(DicomBrowserModel::StudyRole).isValid()) {
        const Study* s = pointer<Study>(index, DicomBrowserModel::StudyRole);
        return !s || filterAcceptsStudy(*s, true);
    }
    if (index.data(DicomBrowserModel::SeriesRole).isValid()) {
        const Series* s = pointer<Series>(index, DicomBrowserModel::SeriesRole);
        return !s || filterAcceptsSeries(*s);
    }
    if (index.data(DicomBrowserModel::ImageRole).isValid()) {
        const Image* i = pointer<Image>(index, DicomBrowserModel::ImageRole);
        if (m_filterInvalidSeries && isInvalidImage(i))
            return false;
        return m_imagesVisible;
    }
    return true;
}

bool DicomBrowserFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const QVariant l = left.data(sortRole());
    const QVariant r = right.data(sortRole());
    if (l.userType() == QMetaType::QString && r.userType() == QMetaType::QString)
        return m_collator.compare(l.toString(), r.toString()) < 0;
    return QSortFilterProxyModel::lessThan(left, right);
}

void DicomBrowserFilterModel::setSourceModel(QAbstractItemModel* model)
{
    if (sourceModel())
        disconnect(sourceModel(), &QAbstractItemModel::dataChanged, this,
                   &DicomBrowserFilterModel::onSourceDataChanged);
    QSortFilterProxyModel::setSourceModel(model);
    if (!model)
        return;
    // The base class re-filters and re-sorts every changed row, whatever changed. A scan changes
    // the properties of a series each time it merges images into it, and neither filter nor
    // order reads them: those changes only pass on to the views.
    disconnect(model, SIGNAL(dataChanged(QModelIndex, QModelIndex, QVector<int>)), this,
               SLOT(_q_sourceDataChanged(QModelIndex, QModelIndex, QVector<int>)));
    connect(model, &QAbstractItemModel::dataChanged, this, &DicomBrowserFilterModel::onSourceDataChanged);
}

void DicomBrowserFilterModel::onSourceDataChanged(const QModelIndex& first, const QModelIndex& last,
                                                  const QVector<int>& roles)
{
    // Invalid-series filtering reads the images, which a change of the properties reports. A new
    // thumbnail changes neither filter nor order.
    const int role = roles.size() == 1 ? roles.front() : -1;
    const bool viewOnly =
        (role == DicomBrowserModel::PropertiesRole && !m_filterInvalidSeries) || role == Qt::DecorationRole;
    if (!viewOnly || first.parent() != last.parent()) {
        QMetaObject::invokeMethod(this, "_q_sourceDataChanged", Qt::DirectConnection, Q_ARG(QModelIndex, first),
                                  Q_ARG(QModelIndex, last), Q_ARG(QVector<int>, roles));
        return;
    }
    // Rows the proxy has not mapped or that are filtered out have no view to tell.
    for (int row = first.row(); row <= last.row(); ++row) {
        const QModelIndex index = mapFromSource(first.siblingAtRow(row));
        if (index.isValid())
            Q_EMIT dataChanged(index, index.siblingAtColumn(columnCount(index.parent()) - 1), roles);
    }
}

bool DicomBrowserFilterModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    const QModelIndex sourceIndex = mapToSource(index);
    if ((index.isValid() && !sourceIndex.isValid()) || !sourceModel())
        return false;
    if (index.parent().parent().isValid() || role != Qt::CheckStateRole)
        return sourceModel()->setData(sourceIndex, value, role);
    for (int row = 0; row < rowCount(index); ++row) {
        const QModelIndex child = this->index(row, 0, index);
        const QModelIndex sourceChild = mapToSource(child);
        if (filterAcceptsRow(sourceChild.row(), sourceChild.parent()))
            setData(child, value, Qt::CheckStateRole);
    }
    Q_EMIT sourceModel()->dataChanged(sourceIndex, sourceIndex, {Qt::CheckStateRole});
    return true;
}

QList<Series*> DicomBrowserFilterModel::selectedSeries() const
{
    QList<Series*> result;
    collectSelected(QModelIndex(), result);
    return result;
}

void DicomBrowserFilterModel::collectSelected(const QModelIndex& parent, QList<Series*>& out) const
{
    for (int row = 0; row < rowCount(parent); ++row) {
        const QModelIndex index = this->index(row, 0, parent);
        const QModelIndex source = mapToSource(index);
        if (source.data(DicomBrowserModel::SeriesRole).isValid()) {
            Series* series = pointer<Series>(source, DicomBrowserModel::SeriesRole);
            if (series && source.data(Qt::CheckStateRole).toInt() == 2 &&
                filterAcceptsRow(source.row(), source.parent()))
                out.append(series);
            continue;
        }
        collectSelected(index, out);
    }
}

}  // namespace Dravelin

#include "moc_DicomBrowserFilterModel.cpp"
