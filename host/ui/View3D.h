#pragma once

#include "host/data/DataList.h"

#include <Eigen/Core>
#include <QImage>
#include <QWidget>

#include <memory>
#include <vector>

namespace Dravelin {

class AnnotationModel;

// The 3D view: meshes as shaded surfaces, point clouds as dots, image sets as the outline of
// their volume, annotations' lines in space and the cross-hair. Drawn with VTK when the display
// offers OpenGL; elsewhere (offscreen, remote sessions without GL) it shows a one-line notice
// and the other views work on.
class View3D : public QWidget
{
    Q_OBJECT
public:
    explicit View3D(QWidget* parent = nullptr);
    ~View3D() override;

    // Whether this process can draw with OpenGL (false on the offscreen platform).
    static bool openGlAvailable();
    bool isRendering() const;

    // Rebuilds the scene from the visible data and the annotations (may be null).
    void setScene(const DataList& data, const AnnotationModel* annotations, const Eigen::Vector3d& cursor);
    void setCursor(const Eigen::Vector3d& cursor);
    // The three slices through the cross-hair, drawn as textured planes (pictures in world
    // space: pixel (0, 0)'s corner at `origin`, rows along `right`, columns along `down`).
    struct SlicePlane
    {
        QImage image;
        Eigen::Vector3d origin, right, down;
        double millimetresPerPixel = 1.0;
    };
    void setSlicePlanes(const std::vector<SlicePlane>& planes);
    void resetCamera();
    // The current picture; null when not rendering.
    QImage renderToImage();

private:
    struct Vtk;
    std::unique_ptr<Vtk> m_vtk;
    bool m_cameraSet = false;
};

}  // namespace Dravelin
