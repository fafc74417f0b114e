#include "editor/BurnedInTextCanvas.h"

#include <QMouseEvent>
#include <QPainter>

namespace Dravelin {

BurnedInTextCanvas::BurnedInTextCanvas(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(false);
    setCursor(Qt::CrossCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void BurnedInTextCanvas::setImage(const QImage& image, std::vector<Dicom::PixelCleaner::Region> regions)
{
    m_image = image;
    m_regions = std::move(regions);
    update();
    emit regionsChanged();
}

void BurnedInTextCanvas::setShowResult(bool show)
{
    m_showResult = show;
    update();
}

QSize BurnedInTextCanvas::sizeHint() const
{
    return m_image.isNull() ? QSize(640, 480) : m_image.size().expandedTo(QSize(480, 360)).boundedTo(QSize(1024, 768));
}

QRect BurnedInTextCanvas::imageArea() const
{
    if (m_image.isNull())
        return QRect();
    const QSize size = m_image.size().scaled(this->size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

QPoint BurnedInTextCanvas::toImage(const QPoint& widget) const
{
    const QRect area = imageArea();
    if (area.isEmpty())
        return QPoint();
    return QPoint((widget.x() - area.x()) * m_image.width() / area.width(),
                  (widget.y() - area.y()) * m_image.height() / area.height());
}

QRect BurnedInTextCanvas::toWidget(const QRect& image) const
{
    const QRect area = imageArea();
    if (area.isEmpty() || m_image.isNull())
        return QRect();
    const double sx = static_cast<double>(area.width()) / m_image.width();
    const double sy = static_cast<double>(area.height()) / m_image.height();
    return QRectF(area.x() + image.x() * sx, area.y() + image.y() * sy, image.width() * sx, image.height() * sy)
        .toAlignedRect();
}

void BurnedInTextCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull())
        return;
    painter.drawImage(imageArea(), m_image);
    for (const auto& region : m_regions) {
        if (region.frame > 0)
            continue;  // the first frame is shown
        const QRect box = toWidget(region.rect.intersected(m_image.rect()));
        if (m_showResult) {
            painter.fillRect(box, Qt::black);
        } else {
            painter.fillRect(box, QColor(255, 0, 0, 60));
            painter.setPen(QPen(Qt::red, 2));
            painter.drawRect(box);
        }
    }
    if (m_dragging) {
        painter.setPen(QPen(Qt::yellow, 1, Qt::DashLine));
        painter.drawRect(toWidget(m_dragRect));
    }
}

void BurnedInTextCanvas::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = toImage(event->pos());
    if (event->button() == Qt::RightButton) {
        for (auto it = m_regions.rbegin(); it != m_regions.rend(); ++it)
            if (it->rect.contains(at)) {
                m_regions.erase(std::next(it).base());
                update();
                emit regionsChanged();
                return;
            }
    } else if (event->button() == Qt::LeftButton && !m_image.isNull()) {
        m_dragging = true;
        m_dragStart = at;
        m_dragRect = QRect(at, QSize(1, 1));
    }
}

void BurnedInTextCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging)
        return;
    m_dragRect = QRect(m_dragStart, toImage(event->pos())).normalized().intersected(m_image.rect());
    update();
}

void BurnedInTextCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    m_dragRect = QRect(m_dragStart, toImage(event->pos())).normalized().intersected(m_image.rect());
    if (m_dragRect.width() > 1 && m_dragRect.height() > 1) {
        m_regions.push_back({-1, m_dragRect});
        emit regionsChanged();
    }
    update();
}

}  // namespace Dravelin

#include "moc_BurnedInTextCanvas.cpp"
