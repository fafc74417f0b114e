#pragma once

#include "host/data/Annotation.h"

#include <Eigen/Geometry>
#include <QImage>
#include <QPoint>
#include <QWidget>

#include <optional>
#include <utility>

class QMenu;
class QPainter;
class QPen;

namespace Dravelin {

class DisplayWidgetMulti;
class SharedImageSet;

// One slice through the display's cross-hair, perpendicular to a patient axis. Screen
// directions follow the radiological convention: patient left on the right of the screen,
// anterior up (axial), superior up (coronal, sagittal). Wheel: next or previous slice (frames
// for sets of 2D frames, or with Shift); left drag: window; click: cross-hair; middle drag or
// Shift + left drag: pan; right drag or Ctrl + wheel: zoom; double click: fit.
class SliceView : public QWidget
{
    Q_OBJECT
public:
    enum Orientation { Axial = 0, Coronal = 1, Sagittal = 2 };

    SliceView(Orientation orientation, DisplayWidgetMulti* display, QWidget* parent = nullptr);
    ~SliceView() override;

    Orientation orientation() const { return m_orientation; }
    static QString orientationName(Orientation orientation);
    // World directions of the screen's right and down, and of the viewer's line of sight.
    Eigen::Vector3d right() const;
    Eigen::Vector3d down() const;
    Eigen::Vector3d normal() const;

    // Widget position <-> world point on the current slice.
    Eigen::Vector3d worldAt(const QPointF& position) const;
    QPointF positionOf(const Eigen::Vector3d& world) const;

    // The voxel of the top image under a world point, and its real value; empty outside.
    struct Sample
    {
        Eigen::Vector3i voxel;
        double value = 0.0;
    };
    std::optional<Sample> sampleAt(const Eigen::Vector3d& world) const;

    // Distance between neighbouring slices of the top image along the normal (1 mm without).
    double sliceStep() const;
    // Moves the cross-hair by `count` slices (or steps frames of the top image), stopping at the
    // first and last slice.
    void stepSlices(int count);
    void stepFrames(int count);
    // Moves the cross-hair to the first (or last) slice of the top image along the line of sight.
    void jumpToEnd(bool last);
    // Where the top volume's first and last slice centres lie along the line of sight.
    std::optional<std::pair<double, double>> sliceRange() const;

    // The current slice of the visible images over `box` (world), without overlays, for the
    // 3D view: at most `maxPixels` along its longer side.
    struct Plane
    {
        QImage image;
        Eigen::Vector3d origin, right, down;  // world corner of pixel (0, 0) and screen axes
        double millimetresPerPixel = 1.0;
    };
    Plane renderPlane(const Eigen::AlignedBox3d& box, int maxPixels) const;

    // The window presets that fit the top image (CT windows for CT, the stored ones, automatic)
    // as actions of `menu` that set its window. A right click without dragging opens it.
    void addWindowPresets(QMenu& menu);

    // The slice of the top image the cross-hair is on (0-based) and the number of slices along
    // the line of sight; empty without an image or off its slices.
    std::optional<std::pair<int, int>> sliceIndex() const;
    // The scale bar: a round length in millimetres (1, 2 or 5 times a power of ten) that spans
    // at most a quarter of the view's width, and its length on screen in pixels.
    struct ScaleBar
    {
        double millimetres = 0.0;
        double pixels = 0.0;
    };
    ScaleBar scaleBar() const;

    double millimetresPerPixel() const { return m_mmPerPixel; }
    void setZoom(double millimetresPerPixel);
    // Puts a world point in the middle of the view.
    void centerOn(const Eigen::Vector3d& world);
    // Fits the visible data into the widget (and keeps it fitted on resizes).
    void fit();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // Up/Down and Page Up/Down step 1 and 10 slices, Home/End go to the first and last slice,
    // +/- zoom, R fits the view.
    void keyPressEvent(QKeyEvent* event) override;
    // Keys go to the view under the mouse.
    void enterEvent(QEvent* event) override;

private:
    // Image sets after the first show at half strength over those before. Pixel (x, y) shows
    // the world point origin + (right * (x + 0.5) + down * (y + 0.5)) * mmPerPixel.
    void drawImage(QImage& target, const SharedImageSet& set, bool blend, const Eigen::Vector3d& origin,
                   double mmPerPixel) const;
    // Every visible image set, label maps last and in colour over the others.
    void drawImages(QImage& target, const Eigen::Vector3d& origin, double mmPerPixel) const;
    void drawLabels(QImage& target, const SharedImageSet& labels, const Eigen::Vector3d& origin,
                    double mmPerPixel) const;
    void drawAnnotations(QPainter& painter) const;
    // Where closed contours off this slice cross it: their sections, drawn with `pen`.
    void drawSections(QPainter& painter, const std::vector<Annotation::Polyline>& polylines, const QPen& pen) const;
    void drawOverlayText(QPainter& painter) const;
    void updateHover(const QPointF& position);

    Orientation m_orientation;
    DisplayWidgetMulti* m_display;
    // View centre in the in-plane coordinates (along right and down), in millimetres.
    Eigen::Vector2d m_center = Eigen::Vector2d::Zero();
    double m_mmPerPixel = 1.0;
    bool m_fitted = false;
    bool m_autoFit = true;

    enum class Drag { None, Pending, Window, Pan, Zoom };
    Drag m_drag = Drag::None;
    QPoint m_pressPos;
    QPoint m_lastPos;
};

}  // namespace Dravelin
