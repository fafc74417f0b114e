#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QModelIndex>
#include <QWidget>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcelem.h>

#include <memory>
#include <optional>
#include <vector>

class DcmDataset;
class QStandardItem;
class QStandardItemModel;
class Ui_TagsWidget;

// The element pointer travels in item data.
Q_DECLARE_METATYPE(DcmElement*)

namespace Dravelin::Dicom {

// Every element of a DICOM dataset as a flat table: nested sequences are indented and can be
// collapsed, rows can be filtered by text, multi-frame sets switch datasets by frame. When
// editing is allowed, values can be changed and elements inserted or removed.
class TagsWidget : public QWidget
{
    Q_OBJECT

public:
    // Filter and collapse state of one table row.
    struct ElementVisibility
    {
        bool matchesFilter = true;
        bool hasMatchingDescendant = false;
        bool collapsed = false;
        bool hasNoToggle = true;
        unsigned parentRow = 0;
        bool hasParent = false;
    };

    // The item data role holding a row's DcmElement*.
    static constexpr int ElementRole = Qt::UserRole + 1;

    explicit TagsWidget(QWidget* parent = nullptr);
    TagsWidget(std::shared_ptr<DcmDataset> dataset, QWidget* parent = nullptr);
    ~TagsWidget() override;

    bool editable() const { return m_editable; }
    int currentFrame() const;

    QStandardItemModel* model() const { return m_model; }
    void setAllCollapsed(bool collapsed);
    // Writes the dataset as DCMTK's XML (name ending in ".xml") or text dump; false on failure.
    bool exportTags(const QString& path) const;
    // The dataset shown; null when none is.
    const std::shared_ptr<DcmDataset>& dataset() const { return m_dataset; }
    // The value of a binary or numeric element as bytes; nothing for other VRs.
    static std::optional<QByteArray> getRawBuffer(DcmElement* element);

public Q_SLOTS:
    void setDataset(std::shared_ptr<DcmDataset> dataset);
    void setDatasets(const std::vector<std::shared_ptr<DcmDataset>>& datasets);
    void setEditable(bool editable);
    void setCurrentFrame(int frame);
    void reloadTags();
    void onTagsContextMenu(const QPoint& pos);
    void onItemChanged(QStandardItem* item);
    void removeElement(const QModelIndex& index);
    void insertElement(const QModelIndex& index);

Q_SIGNALS:
    void editableChanged(bool editable);
    void savedRawBuffer(QString filepath);

private:
    DcmElement* elementAt(const QModelIndex& index) const;
    void appendElementRow(DcmElement* element, int level, int parentRow);
    void addCollapseButton(int row);
    void refreshVisibility(bool scrollToCurrent);
    void refreshTextFilter(const QString& text);
    void openRawBuffer(DcmElement* element);
    void saveRawBuffer(DcmElement* element);
    void exportAll();

    std::unique_ptr<Ui_TagsWidget> m_ui;
    QStandardItemModel* m_model = nullptr;
    std::vector<std::shared_ptr<DcmDataset>> m_datasets;
    std::shared_ptr<DcmDataset> m_dataset;
    std::vector<ElementVisibility> m_visibility;
    bool m_editable = false;
    int m_scrollPosition = -1;
};

}  // namespace Dravelin::Dicom
