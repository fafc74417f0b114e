#include "host/ui/SliceView.h"

#include "host/data/Annotation.h"
#include "host/data/AnnotationModel.h"
#include "host/data/Geometry.h"
#include "host/data/LabelTableDataComponent.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/WindowPresets.h"
#include "host/ui/DisplayWidgetMulti.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace Dravelin {

namespace {

constexpr int kDragThreshold = 3;

int roundIndex(double v)
{
    return static_cast<int>(std::floor(v + 0.5));
}

}  // namespace

SliceView::SliceView(Orientation orientation, DisplayWidgetMulti* display, QWidget* parent)
    : QWidget(parent), m_orientation(orientation), m_display(display)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(160, 160);
    setObjectName(QStringLiteral("sliceView") + orientationName(orientation));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

SliceView::~SliceView() = default;

QString SliceView::orientationName(Orientation orientation)
{
    switch (orientation) {
        case Axial: return tr("Axial");
        case Coronal: return tr("Coronal");
        case Sagittal: return tr("Sagittal");
    }
    return QString();
}

// World coordinates are patient coordinates: x to the patient's left, y to the back, z up.
Eigen::Vector3d SliceView::right() const
{
    return m_orientation == Sagittal ? Eigen::Vector3d(0, 1, 0) : Eigen::Vector3d(1, 0, 0);
}

Eigen::Vector3d SliceView::down() const
{
    return m_orientation == Axial ? Eigen::Vector3d(0, 1, 0) : Eigen::Vector3d(0, 0, -1);
}

Eigen::Vector3d SliceView::normal() const
{
    switch (m_orientation) {
        case Axial: return Eigen::Vector3d(0, 0, 1);
        case Coronal: return Eigen::Vector3d(0, 1, 0);
        case Sagittal: return Eigen::Vector3d(1, 0, 0);
    }
    return Eigen::Vector3d::UnitZ();
}

Eigen::Vector3d SliceView::worldAt(const QPointF& position) const
{
    const double u = m_center.x() + (position.x() - width() / 2.0) * m_mmPerPixel;
    const double v = m_center.y() + (position.y() - height() / 2.0) * m_mmPerPixel;
    const Eigen::Vector3d n = normal();
    return right() * u + down() * v + n * n.dot(m_display->cursor());
}

QPointF SliceView::positionOf(const Eigen::Vector3d& world) const
{
    const double u = world.dot(right());
    const double v = world.dot(down());
    return QPointF((u - m_center.x()) / m_mmPerPixel + width() / 2.0,
                   (v - m_center.y()) / m_mmPerPixel + height() / 2.0);
}

std::optional<SliceView::Sample> SliceView::sampleAt(const Eigen::Vector3d& world) const
{
    const SharedImageSet* set = m_display->topImage();
    const SharedImage* image = set ? set->selected() : nullptr;
    if (!image)
        return std::nullopt;
    const Eigen::Vector3d v = image->worldToVoxel() * world;
    const Eigen::Vector3i index(roundIndex(v.x()), roundIndex(v.y()), roundIndex(v.z()));
    if (!image->contains(index.x(), index.y(), index.z()))
        return std::nullopt;
    return Sample{index, image->realValue(index.x(), index.y(), index.z())};
}

double SliceView::sliceStep() const
{
    const SharedImageSet* set = m_display->topImage();
    const SharedImage* image = set ? set->selected() : nullptr;
    if (!image)
        return 1.0;
    // The voxel axis closest to the line of sight sets the step, projected onto it.
    const Eigen::Matrix3d axes = image->voxelToWorld().linear();
    double best = 0.0;
    double step = 1.0;
    for (int i = 0; i < 3; ++i) {
        const double along = std::abs(axes.col(i).dot(normal()));
        if (along > best) {
            best = along;
            step = along;
        }
    }
    return step > 1e-6 ? step : 1.0;
}

void SliceView::stepSlices(int count)
{
    const SharedImageSet* set = m_display->topImage();
    const SharedImage* image = set ? set->selected() : nullptr;
    if (image && !image->isVolume() && set->size() > 1) {
        stepFrames(count);
        return;
    }
    const Eigen::Vector3d n = normal();
    const Eigen::Vector3d c = m_display->cursor();
    double along = n.dot(c) + sliceStep() * count;
    if (const auto range = sliceRange())
        along = std::clamp(along, range->first, range->second);
    m_display->setCursor(c + n * (along - n.dot(c)));
}

void SliceView::stepFrames(int count)
{
    SharedImageSet* set = m_display->topImage();
    if (!set || set->size() < 2)
        return;
    set->setSelectedIndex(std::clamp(set->selectedIndex() + count, 0, set->size() - 1));
    m_display->refresh();
}

std::optional<std::pair<double, double>> SliceView::sliceRange() const
{
    const SharedImageSet* set = m_display->topImage();
    const SharedImage* image = set ? set->selected() : nullptr;
    if (!image)
        return std::nullopt;
    // The voxel centres' extent along the line of sight.
    const Eigen::Affine3d toWorld = image->voxelToWorld();
    const Eigen::Vector3d n = normal();
    double low = 1e300, high = -1e300;
    for (int i = 0; i < 8; ++i) {
        const Eigen::Vector3d corner((i & 1) ? image->width() - 1 : 0, (i & 2) ? image->height() - 1 : 0,
                                     (i & 4) ? image->slices() - 1 : 0);
        const double along = n.dot(toWorld * corner);
        low = std::min(low, along);
        high = std::max(high, along);
    }
    return std::make_pair(low, high);
}

void SliceView::jumpToEnd(bool last)
{
    const SharedImageSet* set = m_display->topImage();
    const SharedImage* image = set ? set->selected() : nullptr;
    if (!image)
        return;
    if (!image->isVolume() && set->size() > 1) {  // a set of frames: its first or last frame
        stepFrames(last ? set->size() : -set->size());
        return;
    }
    const auto range = sliceRange();
    const Eigen::Vector3d n = normal();
    const Eigen::Vector3d c = m_display->cursor();
    m_display->setCursor(c + n * ((last ? range->second : range->first) - n.dot(c)));
}

std::optional<std::pair<int, int>> SliceView::sliceIndex() const
{
    const SharedImageSet* set = m_display->topImage();
    const SharedImage* image = set ? set->selected() : nullptr;
    if (!image)
        return std::nullopt;
    // The voxel axis closest to the line of sight counts the slices.
    const Eigen::Matrix3d axes = image->voxelToWorld().linear();
    int axis = 0;
    for (int i = 1; i < 3; ++i)
        if (std::abs(axes.col(i).normalized().dot(normal())) > std::abs(axes.col(axis).normalized().dot(normal())))
            axis = i;
    const int index = roundIndex((image->worldToVoxel() * m_display->cursor())[axis]);
    const int count = image->dimensions()[axis];
    if (index < 0 || index >= count)
        return std::nullopt;
    return std::make_pair(index, count);
}

SliceView::ScaleBar SliceView::scaleBar() const
{
    const double widest = std::max(1, width()) / 4.0 * m_mmPerPixel;
    double length = std::pow(10.0, std::floor(std::log10(widest)));
    for (double factor : {5.0, 2.0})
        if (length * factor <= widest) {
            length *= factor;
            break;
        }
    return {length, length / m_mmPerPixel};
}

void SliceView::setZoom(double millimetresPerPixel)
{
    m_mmPerPixel = std::clamp(millimetresPerPixel, 1e-3, 1e3);
    m_fitted = true;
    m_autoFit = false;
    update();
}

void SliceView::centerOn(const Eigen::Vector3d& world)
{
    m_center = Eigen::Vector2d(world.dot(right()), world.dot(down()));
    m_fitted = true;
    m_autoFit = false;
    update();
}

void SliceView::fit()
{
    std::optional<Eigen::AlignedBox3d> box;
    for (const Data* data : m_display->visibleData())
        if (auto b = data->bounds())
            box = box ? box->merged(*b) : *b;
    if (!box || width() <= 0 || height() <= 0)
        return;
    // Corners projected onto the screen axes give the extent to fit.
    double minU = 1e300, maxU = -1e300, minV = 1e300, maxV = -1e300;
    for (int i = 0; i < 8; ++i) {
        const Eigen::Vector3d c = box->corner(static_cast<Eigen::AlignedBox3d::CornerType>(i));
        minU = std::min(minU, c.dot(right()));
        maxU = std::max(maxU, c.dot(right()));
        minV = std::min(minV, c.dot(down()));
        maxV = std::max(maxV, c.dot(down()));
    }
    m_center = Eigen::Vector2d((minU + maxU) / 2, (minV + maxV) / 2);
    const double mm =
        std::max((maxU - minU + 1.0) / std::max(1, width() - 8), (maxV - minV + 1.0) / std::max(1, height() - 8));
    m_mmPerPixel = std::clamp(mm, 1e-3, 1e3);
    m_fitted = true;
    m_autoFit = true;
    update();
}

void SliceView::drawImage(QImage& target, const SharedImageSet& set, bool blend, const Eigen::Vector3d& origin,
                          double mmPerPixel) const
{
    const SharedImage* image = set.selected();
    if (!image)
        return;
    const DisplayWidgetMulti::Window w = m_display->window(&set);
    const double low = w.center - w.width / 2.0;
    const double scale = 255.0 / std::max(w.width, 1e-9);
    const bool rgb = image->channels() == 3;
    const Eigen::Affine3d toVoxel = image->worldToVoxel();
    const Eigen::Vector3d stepX = toVoxel.linear() * (right() * mmPerPixel);
    for (int y = 0; y < target.height(); ++y) {
        Eigen::Vector3d v = toVoxel * (origin + (right() * 0.5 + down() * (y + 0.5)) * mmPerPixel);
        auto* line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < target.width(); ++x, v += stepX) {
            const int ix = roundIndex(v.x()), iy = roundIndex(v.y()), iz = roundIndex(v.z());
            if (!image->contains(ix, iy, iz))
                continue;
            QRgb pixel;
            if (rgb) {
                pixel =
                    qRgb(static_cast<int>(image->value(ix, iy, iz, 0)), static_cast<int>(image->value(ix, iy, iz, 1)),
                         static_cast<int>(image->value(ix, iy, iz, 2)));
            } else {
                const int g = static_cast<int>(std::clamp((image->realValue(ix, iy, iz) - low) * scale, 0.0, 255.0));
                pixel = qRgb(g, g, g);
            }
            if (blend) {
                // Image sets below the top one show through it at half strength.
                const QRgb under = line[x];
                pixel = qRgb((qRed(under) + qRed(pixel)) / 2, (qGreen(under) + qGreen(pixel)) / 2,
                             (qBlue(under) + qBlue(pixel)) / 2);
            }
            line[x] = pixel;
        }
    }
}

void SliceView::drawImages(QImage& target, const Eigen::Vector3d& origin, double mmPerPixel) const
{
    bool first = true;
    const DataList visible = m_display->visibleData();
    for (const Data* data : visible)
        if (auto* set = dynamic_cast<const SharedImageSet*>(data); set && !DisplayWidgetMulti::isLabelMap(set)) {
            drawImage(target, *set, !first, origin, mmPerPixel);
            first = false;
        }
    for (const Data* data : visible)
        if (DisplayWidgetMulti::isLabelMap(data))
            drawLabels(target, static_cast<const SharedImageSet&>(*data), origin, mmPerPixel);
}

void SliceView::drawLabels(QImage& target, const SharedImageSet& set, const Eigen::Vector3d& origin,
                           double mmPerPixel) const
{
    const SharedImage* image = set.selected();
    if (!image || image->channels() != 1)
        return;
    const int w = target.width(), h = target.height();
    std::vector<std::uint16_t> labels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    const Eigen::Affine3d toVoxel = image->worldToVoxel();
    const Eigen::Vector3d stepX = toVoxel.linear() * (right() * mmPerPixel);
    for (int y = 0; y < h; ++y) {
        Eigen::Vector3d v = toVoxel * (origin + (right() * 0.5 + down() * (y + 0.5)) * mmPerPixel);
        for (int x = 0; x < w; ++x, v += stepX) {
            const int ix = roundIndex(v.x()), iy = roundIndex(v.y()), iz = roundIndex(v.z());
            if (image->contains(ix, iy, iz))
                labels[static_cast<std::size_t>(y) * w + x] =
                    static_cast<std::uint16_t>(std::clamp(image->value(ix, iy, iz), 0.0, 65535.0));
        }
    }
    const DisplayWidgetMulti::LabelOverlay overlay = m_display->labelOverlay();
    const LabelTableDataComponent fallback;
    const auto* table = set.getComponent<LabelTableDataComponent>();
    std::map<std::uint16_t, QColor> colors;
    auto at = [&](int x, int y) { return labels[static_cast<std::size_t>(y) * w + x]; };
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const std::uint16_t label = at(x, y);
            if (label == 0)
                continue;
            // Outline: only pixels with a neighbour of another label (or the view's edge).
            if (overlay.outline && x > 0 && y > 0 && x + 1 < w && y + 1 < h && at(x - 1, y) == label &&
                at(x + 1, y) == label && at(x, y - 1) == label && at(x, y + 1) == label)
                continue;
            auto found = colors.find(label);
            if (found == colors.end())
                found = colors.emplace(label, (table ? table : &fallback)->colorOf(label)).first;
            const QColor& c = found->second;
            const QRgb under = line[x];
            const double a = overlay.opacity;
            line[x] = qRgb(static_cast<int>(qRed(under) * (1 - a) + c.red() * a + 0.5),
                           static_cast<int>(qGreen(under) * (1 - a) + c.green() * a + 0.5),
                           static_cast<int>(qBlue(under) * (1 - a) + c.blue() * a + 0.5));
        }
    }
}

SliceView::Plane SliceView::renderPlane(const Eigen::AlignedBox3d& box, int maxPixels) const
{
    Plane plane;
    double minU = 1e300, maxU = -1e300, minV = 1e300, maxV = -1e300;
    for (int i = 0; i < 8; ++i) {
        const Eigen::Vector3d c = box.corner(static_cast<Eigen::AlignedBox3d::CornerType>(i));
        minU = std::min(minU, c.dot(right()));
        maxU = std::max(maxU, c.dot(right()));
        minV = std::min(minV, c.dot(down()));
        maxV = std::max(maxV, c.dot(down()));
    }
    plane.millimetresPerPixel = std::max({maxU - minU, maxV - minV, 1e-3}) / std::max(1, maxPixels);
    const int w = std::max(1, static_cast<int>(std::ceil((maxU - minU) / plane.millimetresPerPixel)));
    const int h = std::max(1, static_cast<int>(std::ceil((maxV - minV) / plane.millimetresPerPixel)));
    plane.origin = right() * minU + down() * minV + normal() * normal().dot(m_display->cursor());
    plane.right = right();
    plane.down = down();
    plane.image = QImage(w, h, QImage::Format_RGB32);
    plane.image.fill(Qt::black);
    drawImages(plane.image, plane.origin, plane.millimetresPerPixel);
    return plane;
}

void SliceView::drawAnnotations(QPainter& painter) const
{
    AnnotationModel* model = m_display->annotationModel();
    if (!model)
        return;
    const Eigen::Vector3d n = normal();
    const double plane = n.dot(m_display->cursor());
    // Primitives within half a slice of the plane are on it.
    const double tolerance = sliceStep() / 2.0 + 1e-6;
    for (InteractiveObject* object : model->objects()) {
        const Annotation* a = object->annotation();
        if (!a || !a->visible.value())
            continue;
        const QColor color(a->color.value());
        painter.setPen(QPen(color, a->lineWidth.value()));
        for (const Annotation::Bitmap& bitmap : a->bitmaps()) {
            const Eigen::Matrix3d m = bitmap.pixelToWorld.linear();
            const Eigen::Vector3d bitmapNormal = m.col(0).cross(m.col(1)).normalized();
            if (bitmap.image.isNull() || std::abs(std::abs(bitmapNormal.dot(n)) - 1.0) > 1e-3 ||
                std::abs(n.dot(bitmap.pixelToWorld.translation()) - plane) > tolerance)
                continue;
            const QPointF o = positionOf(bitmap.pixelToWorld * Eigen::Vector3d(-0.5, -0.5, 0));
            const QPointF ex = positionOf(bitmap.pixelToWorld * Eigen::Vector3d(0.5, -0.5, 0)) - o;
            const QPointF ey = positionOf(bitmap.pixelToWorld * Eigen::Vector3d(-0.5, 0.5, 0)) - o;
            painter.save();
            painter.setTransform(QTransform(ex.x(), ex.y(), ey.x(), ey.y(), o.x(), o.y()));
            painter.drawImage(QPointF(0, 0), bitmap.image);
            painter.restore();
        }
        const std::vector<Annotation::Polyline> polylines = a->polylines();
        drawSections(painter, polylines, painter.pen());
        for (const Annotation::Polyline& polyline : polylines) {
            const auto& p = polyline.points;
            if (polyline.closed && !std::all_of(p.begin(), p.end(), [&](const Eigen::Vector3d& q) {
                    return std::abs(n.dot(q) - plane) <= tolerance;
                }))
                continue;  // drawn as sections
            const std::size_t segments = polyline.closed ? p.size() : (p.empty() ? 0 : p.size() - 1);
            for (std::size_t i = 0; i < segments && p.size() > 1; ++i) {
                const Eigen::Vector3d& a0 = p[i];
                const Eigen::Vector3d& a1 = p[(i + 1) % p.size()];
                const double d0 = n.dot(a0) - plane, d1 = n.dot(a1) - plane;
                if (std::abs(d0) <= tolerance && std::abs(d1) <= tolerance) {
                    painter.drawLine(positionOf(a0), positionOf(a1));
                } else if ((d0 < 0) != (d1 < 0)) {
                    // The segment pierces the slice: mark where.
                    const Eigen::Vector3d hit = a0 + (a1 - a0) * (d0 / (d0 - d1));
                    painter.setBrush(color);
                    painter.drawEllipse(positionOf(hit), 2.5, 2.5);
                    painter.setBrush(Qt::NoBrush);
                }
            }
        }
        for (const Eigen::Vector3d& point : a->points())
            if (std::abs(n.dot(point) - plane) <= tolerance) {
                const QPointF c = positionOf(point);
                painter.drawLine(c - QPointF(3, 3), c + QPointF(3, 3));
                painter.drawLine(c - QPointF(3, -3), c + QPointF(3, -3));
            }
    }
}

void SliceView::drawSections(QPainter& painter, const std::vector<Annotation::Polyline>& polylines,
                             const QPen& pen) const
{
    const QColor color = pen.color();
    const Eigen::Vector3d n = normal();
    const double plane = n.dot(m_display->cursor());
    const double tolerance = sliceStep() / 2.0 + 1e-6;
    // Contours stacked along `up` (their own normal) cut the slice in stripes; each stripe is as
    // thick as the distance between neighbouring contours, so together they show the cut.
    std::vector<std::vector<Geometry::Segment>> cuts;
    std::vector<double> heights;
    Eigen::Vector3d up = Eigen::Vector3d::Zero();
    for (const Annotation::Polyline& polyline : polylines) {
        if (!polyline.closed || polyline.points.size() < 3)
            continue;
        const auto& p = polyline.points;
        if (std::all_of(p.begin(), p.end(),
                        [&](const Eigen::Vector3d& q) { return std::abs(n.dot(q) - plane) <= tolerance; }))
            continue;
        auto segments = Geometry::planeSections(p, n, plane);
        if (segments.empty())
            continue;
        if (up.isZero()) {
            for (std::size_t i = 0; i < p.size(); ++i)  // Newell's normal
                up += p[i].cross(p[(i + 1) % p.size()]);
            up = up.norm() > 1e-12 ? up.normalized() : Eigen::Vector3d::Zero();
        }
        heights.push_back(up.dot(p.front()));
        cuts.push_back(std::move(segments));
    }
    if (cuts.empty())
        return;
    std::vector<double> levels = heights;
    std::sort(levels.begin(), levels.end());
    std::vector<double> gaps;
    for (std::size_t i = 1; i < levels.size(); ++i)
        if (levels[i] - levels[i - 1] > 1e-3)
            gaps.push_back(levels[i] - levels[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2), gaps.end());
    const double thickness = gaps.empty() ? sliceStep() : gaps[gaps.size() / 2];
    const Eigen::Vector3d half = up * (thickness / 2.0);
    QColor fill = color;
    fill.setAlpha(100);
    painter.save();
    // Bands of neighbouring contours meet edge to edge: without antialiasing no seam shows.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    for (const auto& segments : cuts)
        for (const Geometry::Segment& s : segments) {
            const QPointF band[4] = {positionOf(s.from - half), positionOf(s.to - half), positionOf(s.to + half),
                                     positionOf(s.from + half)};
            painter.drawPolygon(band, 4);
        }
    // The bands' ends are where the structure's surface crosses the slice: its outline.
    painter.setPen(pen);
    for (const auto& segments : cuts)
        for (const Geometry::Segment& s : segments) {
            painter.drawLine(positionOf(s.from - half), positionOf(s.from + half));
            painter.drawLine(positionOf(s.to - half), positionOf(s.to + half));
        }
    painter.restore();
}

void SliceView::drawOverlayText(QPainter& painter) const
{
    painter.setPen(QColor(230, 230, 120));
    QFont font = painter.font();
    font.setPointSizeF(std::max(7.0, font.pointSizeF() * 0.9));
    painter.setFont(font);
    const QRect area = rect().adjusted(6, 4, -6, -4);
    const double position = normal().dot(m_display->cursor());
    QString title = tr("%1  %2 mm").arg(orientationName(m_orientation)).arg(position, 0, 'f', 1);
    if (const auto slice = sliceIndex())
        title += tr("  %1 / %2").arg(slice->first + 1).arg(slice->second);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop, title);
    // Scale bar at the bottom left, with its length.
    const ScaleBar bar = scaleBar();
    const QPointF start(area.left(), area.bottom() - 4);
    painter.drawLine(start, start + QPointF(bar.pixels, 0));
    painter.drawLine(start, start - QPointF(0, 5));
    painter.drawLine(start + QPointF(bar.pixels, 0), start + QPointF(bar.pixels, -5));
    painter.drawText(QRectF(start.x(), start.y() - 22, bar.pixels + 60, 16), Qt::AlignLeft | Qt::AlignBottom,
                     bar.millimetres >= 10 ? tr("%1 cm").arg(bar.millimetres / 10) : tr("%1 mm").arg(bar.millimetres));
    if (const SharedImageSet* set = m_display->topImage()) {
        const DisplayWidgetMulti::Window w = m_display->window(set);
        QString text = tr("W %1  L %2").arg(w.width, 0, 'f', 0).arg(w.center, 0, 'f', 0);
        if (set->size() > 1)
            text = tr("Frame %1/%2").arg(set->selectedIndex() + 1).arg(set->size()) + QStringLiteral("\n") + text;
        painter.drawText(area, Qt::AlignRight | Qt::AlignBottom, text);
    }
    // Orientation letters at the screen edges: where the patient's sides are.
    static const char* letters[3][2] = {{"R", "L"}, {"A", "P"}, {"I", "S"}};
    auto letter = [&](const Eigen::Vector3d& dir) {
        for (int axis = 0; axis < 3; ++axis)
            if (std::abs(dir[axis]) > 0.5)
                return QString::fromLatin1(letters[axis][dir[axis] > 0 ? 1 : 0]);
        return QString();
    };
    painter.setPen(QColor(150, 200, 255));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, letter(-right()));
    painter.drawText(area, Qt::AlignRight | Qt::AlignVCenter, letter(right()));
    painter.drawText(area, Qt::AlignHCenter | Qt::AlignTop, letter(-down()));
    painter.drawText(area, Qt::AlignHCenter | Qt::AlignBottom, letter(down()));
}

void SliceView::paintEvent(QPaintEvent*)
{
    if (!m_fitted)
        fit();
    QImage frame(size(), QImage::Format_RGB32);
    frame.fill(Qt::black);
    drawImages(frame, worldAt(QPointF(0, 0)), m_mmPerPixel);
    QPainter painter(this);
    painter.drawImage(0, 0, frame);
    painter.setRenderHint(QPainter::Antialiasing);
    drawAnnotations(painter);
    // Cross-hair, in the colour of the slice it stands for.
    static const QColor axisColor[3] = {QColor(80, 160, 255), QColor(90, 220, 90), QColor(255, 90, 90)};
    const QPointF c = positionOf(m_display->cursor());
    const QColor vertical = axisColor[m_orientation == Sagittal ? Coronal : Sagittal];
    const QColor horizontal = axisColor[m_orientation == Axial ? Coronal : Axial];
    painter.setPen(QPen(vertical, 1));
    painter.drawLine(QPointF(c.x(), 0), QPointF(c.x(), height()));
    painter.setPen(QPen(horizontal, 1));
    painter.drawLine(QPointF(0, c.y()), QPointF(width(), c.y()));
    drawOverlayText(painter);
    painter.setPen(QPen(axisColor[m_orientation], 2));
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
}

void SliceView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Until the user zooms or pans, the data keeps filling the view.
    if (m_autoFit)
        fit();
}

void SliceView::wheelEvent(QWheelEvent* event)
{
    const int steps =
        event->angleDelta().y() / 120 != 0 ? event->angleDelta().y() / 120 : (event->angleDelta().y() > 0 ? 1 : -1);
    if (event->angleDelta().y() == 0)
        return;
    if (event->modifiers() & Qt::ControlModifier) {
        // Zoom about the pointer: the world point under it stays put.
        const Eigen::Vector3d before = worldAt(event->position());
        m_mmPerPixel = std::clamp(m_mmPerPixel * std::pow(0.85, steps), 1e-3, 1e3);
        const Eigen::Vector3d after = worldAt(event->position());
        m_center += Eigen::Vector2d((before - after).dot(right()), (before - after).dot(down()));
        m_autoFit = false;
        update();
    } else if (event->modifiers() & Qt::ShiftModifier) {
        stepFrames(steps);
    } else {
        stepSlices(steps);
    }
    event->accept();
}

void SliceView::mousePressEvent(QMouseEvent* event)
{
    m_pressPos = m_lastPos = event->pos();
    if (event->button() == Qt::MiddleButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier)))
        m_drag = Drag::Pan;
    else if (event->button() == Qt::RightButton)
        m_drag = Drag::Zoom;
    else if (event->button() == Qt::LeftButton)
        m_drag = Drag::Pending;
}

void SliceView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint delta = event->pos() - m_lastPos;
    m_lastPos = event->pos();
    if (m_drag == Drag::Pending && (event->pos() - m_pressPos).manhattanLength() > kDragThreshold)
        m_drag = Drag::Window;
    switch (m_drag) {
        case Drag::Window:
            if (SharedImageSet* set = m_display->topImage()) {
                // Right widens the window, down raises the level; a full widget sweeps the range.
                DisplayWidgetMulti::Window w = m_display->window(set);
                const double sensitivity = std::max(w.width, 1.0) / 256.0;
                w.width = std::max(1.0, w.width + delta.x() * sensitivity);
                w.center += delta.y() * sensitivity;
                m_display->setWindow(set, w);
            }
            break;
        case Drag::Pan:
            m_center -= Eigen::Vector2d(delta.x(), delta.y()) * m_mmPerPixel;
            m_autoFit = false;
            update();
            break;
        case Drag::Zoom: setZoom(m_mmPerPixel * std::pow(1.01, delta.y())); break;
        case Drag::None:
        case Drag::Pending: break;
    }
    updateHover(event->pos());
}

void SliceView::addWindowPresets(QMenu& menu)
{
    SharedImageSet* set = m_display->topImage();
    if (!set || !set->selected())
        return;
    auto add = [&](const WindowPresets::Preset& preset) {
        QAction* action = menu.addAction(
            tr("%1  (W %2  L %3)").arg(preset.name).arg(preset.width, 0, 'f', 0).arg(preset.center, 0, 'f', 0));
        connect(action, &QAction::triggered, this, [this, set, preset] {
            if (m_display->topImage() == set)
                m_display->setWindow(set, {preset.center, preset.width});
        });
    };
    if (set->modality() == Data::ModalityCT)
        for (const WindowPresets::Preset& preset : WindowPresets::ct())
            add(preset);
    const std::vector<WindowPresets::Preset> stored = WindowPresets::stored(*set);
    if (!menu.isEmpty() && !stored.empty())
        menu.addSeparator();
    for (const WindowPresets::Preset& preset : stored)
        add(preset);
    if (auto automatic = WindowPresets::automatic(*set->selected())) {
        menu.addSeparator();
        add(*automatic);
    }
}

void SliceView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_drag == Drag::Pending && event->button() == Qt::LeftButton)
        m_display->setCursor(worldAt(event->pos()));
    if (m_drag == Drag::Zoom && event->button() == Qt::RightButton &&
        (event->pos() - m_pressPos).manhattanLength() <= kDragThreshold) {
        QMenu menu(this);
        addWindowPresets(menu);
        if (!menu.isEmpty())
            menu.exec(event->globalPos());
    }
    m_drag = Drag::None;
}

void SliceView::mouseDoubleClickEvent(QMouseEvent*)
{
    fit();
}

void SliceView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
        case Qt::Key_Up: stepSlices(1); break;
        case Qt::Key_Down: stepSlices(-1); break;
        case Qt::Key_PageUp: stepSlices(10); break;
        case Qt::Key_PageDown: stepSlices(-10); break;
        case Qt::Key_Home: jumpToEnd(false); break;
        case Qt::Key_End: jumpToEnd(true); break;
        case Qt::Key_Plus:
        case Qt::Key_Equal: setZoom(m_mmPerPixel / 1.25); break;
        case Qt::Key_Minus: setZoom(m_mmPerPixel * 1.25); break;
        case Qt::Key_R: fit(); break;
        default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void SliceView::enterEvent(QEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QWidget::enterEvent(event);
}

void SliceView::leaveEvent(QEvent*)
{
    m_display->setHoverText(QString());
}

void SliceView::updateHover(const QPointF& position)
{
    const Eigen::Vector3d world = worldAt(position);
    const auto sample = sampleAt(world);
    if (!sample) {
        m_display->setHoverText(QString());
        return;
    }
    m_display->setHoverText(tr("(%1, %2, %3) mm  voxel [%4, %5, %6]  value %7")
                                .arg(world.x(), 0, 'f', 1)
                                .arg(world.y(), 0, 'f', 1)
                                .arg(world.z(), 0, 'f', 1)
                                .arg(sample->voxel.x())
                                .arg(sample->voxel.y())
                                .arg(sample->voxel.z())
                                .arg(sample->value, 0, 'g', 6) +
                            (m_display->topImage()->modality() == Data::ModalityCT ? tr(" HU") : QString()));
}

}  // namespace Dravelin

#include "moc_SliceView.cpp"
