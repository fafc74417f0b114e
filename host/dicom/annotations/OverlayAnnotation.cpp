#include "host/dicom/annotations/OverlayAnnotation.h"

#include "host/data/SharedImageSet.h"
#include "host/dicom/components/OverlayDataComponent.h"

#include <QColor>
#include <QPainter>

namespace Dravelin::Dicom {

OverlayAnnotation::OverlayAnnotation(const SharedImageSet* imageSet)
{
    name = QStringLiteral("DICOM Overlay");
    const auto* overlays = imageSet ? imageSet->getComponent<OverlayDataComponent>() : nullptr;
    if (overlays) {
        // Image frames run image after image, slice after slice.
        std::vector<std::pair<const SharedImage*, int>> frames;
        for (const auto& image : imageSet->images())
            for (int k = 0; k < image->slices(); ++k)
                frames.emplace_back(image.get(), k);
        for (const OverlayDataComponent::Overlay& o : overlays->overlays) {
            for (int f = 0; f < static_cast<int>(o.bits.size()); ++f) {
                const int frame = o.firstFrame - 1 + f;
                if (frame < 0 || frame >= static_cast<int>(frames.size()) || o.rows <= 0 || o.columns <= 0)
                    continue;
                QImage mask(o.columns, o.rows, QImage::Format_Alpha8);
                mask.fill(0);
                for (int r = 0; r < o.rows; ++r) {
                    uchar* line = mask.scanLine(r);
                    for (int c = 0; c < o.columns; ++c)
                        line[c] = o.isSet(f, r, c) ? 255 : 0;
                }
                const SharedImage* image = frames[static_cast<std::size_t>(frame)].first;
                const int slice = frames[static_cast<std::size_t>(frame)].second;
                const Eigen::Vector3d origin(o.originColumn - 1, o.originRow - 1, slice);
                m_planes.push_back({mask, image->voxelToWorld() * Eigen::Translation3d(origin)});
            }
        }
    }
    rebuild();
    m_colorHandle = color.signalValueChanged.connect([this] {
        rebuild();
        signalChanged.notify();
    });
}

OverlayAnnotation::~OverlayAnnotation()
{
    color.signalValueChanged.disconnect(m_colorHandle);
}

QString OverlayAnnotation::typeName() const
{
    return QStringLiteral("DICOM Overlay");
}

void OverlayAnnotation::rebuild()
{
    const QColor tint(color.value());
    m_bitmaps.clear();
    for (const Plane& p : m_planes) {
        QImage picture(p.mask.size(), QImage::Format_ARGB32_Premultiplied);
        picture.fill(tint.isValid() ? tint : QColor(Qt::yellow));
        QPainter painter(&picture);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.drawImage(0, 0, p.mask);
        painter.end();
        m_bitmaps.push_back({picture, p.pixelToWorld});
    }
}

std::vector<Annotation::Bitmap> OverlayAnnotation::bitmaps() const
{
    return m_bitmaps;
}

std::optional<Eigen::AlignedBox3d> OverlayAnnotation::bounds() const
{
    if (m_planes.empty())
        return std::nullopt;
    Eigen::AlignedBox3d box;
    for (const Plane& p : m_planes) {
        box.extend(p.pixelToWorld * Eigen::Vector3d(-0.5, -0.5, 0));
        box.extend(p.pixelToWorld * Eigen::Vector3d(p.mask.width() - 0.5, p.mask.height() - 0.5, 0));
    }
    return box;
}

}  // namespace Dravelin::Dicom
