#pragma once

#include "scanning/Image.h"
#include "scanning/PacsSeriesProxy.h"
#include "scanning/Patient.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QAbstractItemModel>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin {

namespace Dicom {
class DatasetCache;
}  // namespace Dicom

// The study tree as a one-column item model: patients, studies, series, images, and one
// placeholder row ("...") under a study whose series are still on a PACS. Patient, study and
// series rows are checkable (series hold the state, studies and patients roll it up). The
// model owns the tree; every change happens on the thread that owns the model.
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
    // Every checked series in patient, study, series order.
    QList<Dicom::Series*> selectedSeries() const;

    std::shared_ptr<Dicom::DatasetCache> datasetCache() const { return m_datasetCache; }
    // A null cache is replaced by a new one of capacity 2048.
    void setDatasetCache(std::shared_ptr<Dicom::DatasetCache> cache);

    void setUpdateSeriesDimensionsAfterScan(bool update) { m_updateSeriesDimensionsAfterScan = update; }
    bool isUpdatingSeriesDimensionsAfterScan() const { return m_updateSeriesDimensionsAfterScan; }

public Q_SLOTS:
    // Takes ownership; merges into an existing patient (same ID and name) when there is one.
    void addPatient(Dravelin::Dicom::Patient* patient);
    void remove(Dravelin::Dicom::PacsSeriesProxy* psp);
    void clear();

private:
    class Merger;
    friend class Merger;

    static void registerMetaTypes();
    int rowOf(const Dicom::Patient* patient) const;

    std::shared_ptr<Dicom::DatasetCache> m_datasetCache;
    std::vector<Dicom::Patient*> m_patients;  // owned
    bool m_updateSeriesDimensionsAfterScan = false;
};

}  // namespace Dravelin

Q_DECLARE_METATYPE(Dravelin::DicomBrowserModel::ParameterList)
Q_DECLARE_METATYPE(Dravelin::Dicom::Patient*)
Q_DECLARE_METATYPE(Dravelin::Dicom::Study*)
Q_DECLARE_METATYPE(Dravelin::Dicom::Series*)
Q_DECLARE_METATYPE(Dravelin::Dicom::Image*)
Q_DECLARE_METATYPE(Dravelin::Dicom::PacsSeriesProxy*)
