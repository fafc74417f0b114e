#pragma once

#include "host/core/Url.h"
#include "host/dicom/io/Compression.h"

#include <QDialog>

#include <memory>
#include <vector>

class DcmDataset;
class DcmItem;
class QStandardItemModel;
class Ui_DicomIoControllerExportDialog;

namespace Dravelin {

class DataModel;
class DicomIoAlgorithm;

// The two-page dialog through which an image set is written as DICOM. Page 1 chooses the
// writer's extensions and the images or files the written data refers to; page 2 the
// destination (file, folder or PACS server), the transfer syntax and quality, and lets the user
// edit the patient, study and series information and every tag before Export writes them.
class DicomIoControllerExportDialog : public QDialog
{
    Q_OBJECT

public:
    // Item roles of the referenced-images list.
    enum ReferencedRole { IsImageRole = Qt::UserRole, ImageSetRole = Qt::UserRole + 1 };

    DicomIoControllerExportDialog(DicomIoAlgorithm& algorithm, const DataModel* dataModel, QWidget* parent = nullptr);
    ~DicomIoControllerExportDialog() override;

    void gotoPage1();
    void gotoPage2();
    void setQuality(int quality);
    int quality() const;
    void setCompression(Dicom::Compression compression);
    void setCompression(int comboIndex);
    Dicom::Compression compression() const;
    // The destination; empty when none can be formed.
    Filesystem::Url exportUrl() const;
    void updateAvailablePacsServers();

    // The datasets to be written (made on entry to page 2).
    const std::vector<std::shared_ptr<DcmDataset>>& datasets() const { return m_datasets; }
    // Copies `source` into `target` element by element, descending into sequences; read-only
    // tags are never copied, existing elements are replaced only with `overrideExisting`.
    static void mergeItem(DcmItem& source, DcmItem& target, bool overrideExisting);

public slots:
    void accept() override;
    void loadTags();
    void onInfoTabWidgetIndexChanged(int index);
    void onInfoWidgetChanged();
    void onTabWidgetChanged(int index);

private:
    void addFiles();
    void choosePath();

    DicomIoAlgorithm& m_algorithm;
    const DataModel* m_dataModel;
    Ui_DicomIoControllerExportDialog* m_ui;
    std::vector<std::shared_ptr<DcmDataset>> m_datasets;
    QStandardItemModel* m_referencedModel;
    bool m_singleFile = false;
};

}  // namespace Dravelin
