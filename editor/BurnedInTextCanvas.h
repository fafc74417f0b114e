#pragma once

#include "host/dicom/deid/PixelCleaner.h"

#include <QImage>
#include <QWidget>

#include <vector>

namespace Dravelin {

// Shows an image with the boxes that will be blacked out, scaled to fit: outlined in red, or
// filled black as the written image will be (setShowResult). Dragging with the left button adds
// a box, a right click removes the box under the pointer.
class BurnedInTextCanvas : public QWidget
{
    Q_OBJECT

public:
    explicit BurnedInTextCanvas(QWidget* parent = nullptr);

    void setImage(const QImage& image, std::vector<Dicom::PixelCleaner::Region> regions);
    const std::vector<Dicom::PixelCleaner::Region>& regions() const { return m_regions; }
    void setShowResult(bool show);
    QSize sizeHint() const override;

Q_SIGNALS:
    void regionsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Where the image is drawn, and the conversions between widget and image coordinates.
    QRect imageArea() const;
    QPoint toImage(const QPoint& widget) const;
    QRect toWidget(const QRect& image) const;

    QImage m_image;
    std::vector<Dicom::PixelCleaner::Region> m_regions;
    bool m_showResult = false;
    bool m_dragging = false;
    QPoint m_dragStart;  // image coordinates
    QRect m_dragRect;
};

}  // namespace Dravelin
