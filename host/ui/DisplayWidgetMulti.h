#pragma once

#include "host/data/DataDisplay.h"

#include <Eigen/Core>
#include <QPointer>
#include <QWidget>

#include <map>

namespace Dravelin {

class AnnotationModel;
class SharedImageSet;
class SliceView;
class View3D;

// The application's views: axial, coronal and sagittal slices through one world (patient)
// point, the cross-hair, and a 3D view. Holds the display state kept beside the data: which
// items are visible, the cross-hair position and each image set's window; views draw from it.
class DisplayWidgetMulti : public QWidget, public DataDisplay
{
    Q_OBJECT
public:
    struct Window
    {
        double center = 0.0;
        double width = 1.0;
    };
    // How label maps are drawn over the images: colour strength, and outline only or filled.
    struct LabelOverlay
    {
        double opacity = 0.5;
        bool outline = false;
    };

    explicit DisplayWidgetMulti(QWidget* parent = nullptr);
    ~DisplayWidgetMulti() override;

    // Both bases name these; the argument lists tell them apart.
    using DataDisplay::isVisible;
    using DataDisplay::setVisible;
    using QWidget::isVisible;
    using QWidget::setVisible;

    DataList visibleData() const override { return m_visible; }
    // Newly shown data that is the first to show moves the cross-hair to its centre.
    void setVisibleData(const DataList& data) override;
    void refresh() override;

    // Annotations drawn over the views; not owned, may be null.
    void setAnnotationModel(AnnotationModel* model);
    AnnotationModel* annotationModel() const { return m_annotations; }

    const Eigen::Vector3d& cursor() const { return m_cursor; }
    void setCursor(const Eigen::Vector3d& world);

    // The image set drawn on top (the last visible one that is not a label map, else the last
    // label map), or null. Label maps are drawn over it in colour.
    SharedImageSet* topImage() const;
    static bool isLabelMap(const Data* data);
    LabelOverlay labelOverlay() const { return m_labelOverlay; }
    void setLabelOverlay(LabelOverlay overlay);
    // The window of an image set: set by the user, else the data's own, else its value range.
    Window window(const SharedImageSet* image) const;
    void setWindow(const SharedImageSet* image, Window window);

    // Slice views in the order axial, coronal, sagittal; the 3D view.
    SliceView* sliceView(int orientation) const { return m_slices[orientation]; }
    View3D* view3d() const { return m_view3d; }

    // Centres the cross-hair on the visible data and fits every view to it.
    void resetViews();
    // Text shown for the voxel under the mouse (empty outside any image).
    const QString& hoverText() const { return m_hoverText; }
    void setHoverText(const QString& text);

signals:
    void cursorChanged();
    void hoverTextChanged(const QString& text);
    void visibleDataChanged();

private:
    void forget(const Data* data);
    // The 3D view's slice pictures follow the cross-hair and the window.
    void updatePlanes();

    DataList m_visible;
    Eigen::Vector3d m_cursor = Eigen::Vector3d::Zero();
    mutable std::map<const SharedImageSet*, Window> m_windows;
    QPointer<AnnotationModel> m_annotations;
    SliceView* m_slices[3] = {nullptr, nullptr, nullptr};
    View3D* m_view3d = nullptr;
    QString m_hoverText;
    LabelOverlay m_labelOverlay;
    // Opacity slider and outline switch, shown while a label map is visible.
    QWidget* m_labelBar = nullptr;
};

}  // namespace Dravelin
