#pragma once

#include "browser/models/DateRangeFilter.h"

#include <QCollator>
#include <QDate>
#include <QList>
#include <QSortFilterProxyModel>
#include <QString>

#include <optional>
#include <tuple>
#include <vector>

namespace Dravelin {

namespace Dicom {
class Image;
class Patient;
class Series;
class Study;
}  // namespace Dicom

// Sits between the browser model and its view: hides series by modality, date, image type
// and validity, applies the text filter to patient, study and series texts (a parent stays
// visible while a child is), sorts texts in natural order, and limits check-box propagation
// and the selection to what is visible.
class DicomBrowserFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_PROPERTY(std::vector<QString> modalitiesFilter READ modalitiesFilter WRITE setModalitiesFilter NOTIFY
                   modalitiesFilterChanged)

public:
    using DateRange = std::tuple<QDate, QDate>;

    explicit DicomBrowserFilterModel(QObject* parent = nullptr);

    std::vector<QString> modalitiesFilter() const { return m_modalitiesFilter; }
    std::optional<DateRange> studyDateFilter() const { return m_dateFilter; }
    bool imagesVisible() const { return m_imagesVisible; }
    bool originalOnly() const { return m_originalOnly; }
    void setFilterInvalidSeries(bool filter);

    // Checked series that are visible, in display order.
    QList<Dicom::Series*> selectedSeries() const;

    bool hasNonEmptyFilter() const;
    bool matchesFilter(const QString& text) const;
    static bool isInvalidImage(const Dicom::Image* image);
    // The series' own date, else its study's; both dates invalid when neither is known.
    static DateRange getFilterDateRange(const Dicom::Series& series);

    bool filterAcceptsPatient(const Dicom::Patient& patient, bool checkChildren) const;
    bool filterAcceptsStudy(const Dicom::Study& study, bool checkChildren) const;
    bool filterAcceptsSeries(const Dicom::Series& series) const;

    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    void setSourceModel(QAbstractItemModel* model) override;

Q_SIGNALS:
    void modalitiesFilterChanged(std::vector<QString> modalities);
    void dateFilterChanged(std::optional<std::tuple<QDate, QDate>> dateFilter);

public Q_SLOTS:
    void setOriginalOnly(bool flag);
    void setModalitiesFilter(std::vector<QString> modalities);
    void setDateFilter(std::optional<std::tuple<QDate, QDate>> dateFilter);
    // Takes effect at the next filter invalidation.
    void setImagesVisible(bool hide);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    void onSourceDataChanged(const QModelIndex& first, const QModelIndex& last, const QVector<int>& roles);
    void collectSelected(const QModelIndex& parent, QList<Dicom::Series*>& out) const;

    QCollator m_collator;
    bool m_originalOnly = false;
    bool m_imagesVisible = true;
    bool m_filterInvalidSeries = false;
    std::vector<QString> m_modalitiesFilter;
    std::optional<std::tuple<QDate, QDate>> m_dateFilter;
};

}  // namespace Dravelin

Q_DECLARE_METATYPE(std::vector<QString>)
