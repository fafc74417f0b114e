#include "host/data/Annotation.h"

namespace Dravelin {

Annotation::Annotation()
{
    for (ParameterBase* p : parameters())
        p->signalValueChanged.connect([this] { signalChanged.notify(); });
}

Annotation::~Annotation() = default;

std::vector<Annotation::Polyline> Annotation::polylines() const
{
    return {};
}

std::vector<Annotation::Bitmap> Annotation::bitmaps() const
{
    return {};
}

std::vector<Eigen::Vector3d> Annotation::points() const
{
    return {};
}

std::optional<Eigen::AlignedBox3d> Annotation::bounds() const
{
    Eigen::AlignedBox3d box;
    for (const Polyline& line : polylines())
        for (const Eigen::Vector3d& p : line.points)
            box.extend(p);
    for (const Eigen::Vector3d& p : points())
        box.extend(p);
    for (const Bitmap& bitmap : bitmaps()) {
        if (bitmap.image.isNull())
            continue;
        const double w = bitmap.image.width() - 0.5, h = bitmap.image.height() - 0.5;
        for (const Eigen::Vector3d& corner : {Eigen::Vector3d(-0.5, -0.5, 0), Eigen::Vector3d(w, -0.5, 0),
                                              Eigen::Vector3d(-0.5, h, 0), Eigen::Vector3d(w, h, 0)})
            box.extend(bitmap.pixelToWorld * corner);
    }
    if (box.isEmpty())
        return std::nullopt;
    return box;
}

}  // namespace Dravelin
