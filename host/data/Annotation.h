#pragma once

#include "host/properties/Configurable.h"
#include "host/properties/Parameter.h"
#include "host/properties/Signal.h"

#include <Eigen/Geometry>
#include <QImage>
#include <QString>

#include <optional>
#include <vector>

namespace Dravelin {

// Something drawn over the data in the views: a measurement, a contour, an overlay plane.
// Annotations describe themselves with drawing primitives in world coordinates (millimetres),
// which every view draws the same way: slice views where the primitive crosses the slice,
// the 3D view in space. Name, colour, line width and visibility are parameters, so an
// annotation can be configured from and saved to properties.
class Annotation : public Configurable
{
public:
    struct Polyline
    {
        std::vector<Eigen::Vector3d> points;
        bool closed = false;
    };
    // A picture on a plane: pixel (column, row) centres map to world through `pixelToWorld`.
    struct Bitmap
    {
        QImage image;
        Eigen::Affine3d pixelToWorld = Eigen::Affine3d::Identity();
    };

    Annotation();
    ~Annotation() override;

    // A short text naming the annotation type, for menus and logs.
    virtual QString typeName() const = 0;

    virtual std::vector<Polyline> polylines() const;
    virtual std::vector<Bitmap> bitmaps() const;
    // Markers drawn at single points.
    virtual std::vector<Eigen::Vector3d> points() const;
    // The extent of the primitives; empty when the annotation has no geometry.
    virtual std::optional<Eigen::AlignedBox3d> bounds() const;

    Parameter<QString> name{"name", QString(), this};
    // Colour as "#rrggbb" (QColor names are accepted as well).
    Parameter<QString> color{"color", QStringLiteral("#ffd700"), this};
    Parameter<double> lineWidth{"lineWidth", 1.5, this};
    Parameter<bool> visible{"visible", true, this};

    // Views redraw on this; subclasses notify when their primitives change.
    Signal<> signalChanged;
};

}  // namespace Dravelin
