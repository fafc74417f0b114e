#include "host/ui/View3D.h"

#include "host/data/Annotation.h"
#include "host/data/AnnotationModel.h"
#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "host/dicom/components/RTStructureRenderingDataComponent.h"
#include "host/data/SharedImageSet.h"

#include <QGuiApplication>
#include <QLabel>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QVBoxLayout>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCellArray.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkPolyDataNormals.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkSmartPointer.h>
#include <vtkImageData.h>
#include <vtkPlaneSource.h>
#include <vtkTexture.h>
#include <vtkUnsignedCharArray.h>
#include <vtkPointData.h>

#include <cstring>
#include <vector>

namespace Dravelin {

struct View3D::Vtk
{
    QVTKOpenGLNativeWidget* widget = nullptr;
    vtkSmartPointer<vtkGenericOpenGLRenderWindow> window;
    vtkSmartPointer<vtkRenderer> renderer;
    vtkSmartPointer<vtkActor> cursor;
    std::vector<vtkSmartPointer<vtkActor>> planes;
    std::vector<vtkSmartPointer<vtkActor>> actors;
};

namespace {

vtkSmartPointer<vtkActor> actorFor(vtkPolyData* polyData)
{
    vtkNew<vtkPolyDataMapper> mapper;
    mapper->SetInputData(polyData);
    auto actor = vtkSmartPointer<vtkActor>::New();
    actor->SetMapper(mapper);
    return actor;
}

vtkSmartPointer<vtkActor> meshActor(const Mesh& mesh, const Eigen::Vector3d& color = {0.93, 0.82, 0.68})
{
    vtkNew<vtkPoints> points;
    for (const Eigen::Vector3d& v : mesh.vertices())
        points->InsertNextPoint(v.data());
    vtkNew<vtkCellArray> triangles;
    for (const Eigen::Vector3i& t : mesh.triangles()) {
        const vtkIdType ids[3] = {t.x(), t.y(), t.z()};
        triangles->InsertNextCell(3, ids);
    }
    vtkNew<vtkPolyData> polyData;
    polyData->SetPoints(points);
    polyData->SetPolys(triangles);
    vtkNew<vtkPolyDataNormals> normals;
    normals->SetInputData(polyData);
    normals->Update();
    auto actor = actorFor(normals->GetOutput());
    actor->GetProperty()->SetColor(color.x(), color.y(), color.z());
    actor->GetProperty()->SetSpecular(0.2);
    return actor;
}

vtkSmartPointer<vtkActor> pointCloudActor(const PointCloud& cloud)
{
    vtkNew<vtkPoints> points;
    vtkNew<vtkCellArray> vertices;
    vtkNew<vtkUnsignedCharArray> colors;
    colors->SetNumberOfComponents(3);
    const bool colored = cloud.colors().size() == cloud.points().size();
    for (std::size_t i = 0; i < cloud.points().size(); ++i) {
        const vtkIdType id = points->InsertNextPoint(cloud.points()[i].data());
        vertices->InsertNextCell(1, &id);
        if (colored) {
            const Eigen::Vector3f c = cloud.colors()[i].cwiseMax(0.f).cwiseMin(1.f) * 255.f;
            colors->InsertNextTuple3(c.x(), c.y(), c.z());
        }
    }
    vtkNew<vtkPolyData> polyData;
    polyData->SetPoints(points);
    polyData->SetVerts(vertices);
    if (colored)
        polyData->GetPointData()->SetScalars(colors);
    auto actor = actorFor(polyData);
    actor->GetProperty()->SetPointSize(3);
    actor->GetProperty()->SetColor(0.4, 0.85, 1.0);
    return actor;
}

// The surface made for an RT structure, drawn in its colour instead of its contour points.
const Mesh* structureSurface(const Data* data)
{
    const auto* rendering = data->getComponent<Dicom::RTStructureRenderingDataComponent>();
    const Mesh* mesh = rendering ? rendering->mesh() : nullptr;
    return mesh && mesh->isValid() && !mesh->triangles().empty() &&
                   data->hasComponent<Dicom::RTStructureDataComponent>()
               ? mesh
               : nullptr;
}

// Lines through `strips` of points; each strip closed when asked.
vtkSmartPointer<vtkActor> linesActor(const std::vector<std::pair<std::vector<Eigen::Vector3d>, bool>>& strips)
{
    vtkNew<vtkPoints> points;
    vtkNew<vtkCellArray> lines;
    for (const auto& [strip, closed] : strips) {
        if (strip.size() < 2)
            continue;
        std::vector<vtkIdType> ids;
        for (const Eigen::Vector3d& p : strip)
            ids.push_back(points->InsertNextPoint(p.data()));
        if (closed)
            ids.push_back(ids.front());
        lines->InsertNextCell(static_cast<vtkIdType>(ids.size()), ids.data());
    }
    vtkNew<vtkPolyData> polyData;
    polyData->SetPoints(points);
    polyData->SetLines(lines);
    return actorFor(polyData);
}

// The twelve edges of an image's voxel block.
std::vector<std::pair<std::vector<Eigen::Vector3d>, bool>> outlineOf(const SharedImage& image)
{
    const Eigen::Affine3d toWorld = image.voxelToWorld();
    const Eigen::Vector3d lo(-0.5, -0.5, -0.5);
    const Eigen::Vector3d hi = image.dimensions().cast<double>() - Eigen::Vector3d::Constant(0.5);
    auto corner = [&](int i) {
        return Eigen::Vector3d(i & 1 ? hi.x() : lo.x(), i & 2 ? hi.y() : lo.y(), i & 4 ? hi.z() : lo.z());
    };
    std::vector<std::pair<std::vector<Eigen::Vector3d>, bool>> edges;
    for (int i = 0; i < 8; ++i)
        for (int bit = 1; bit < 8; bit <<= 1)
            if (!(i & bit))
                edges.push_back({{toWorld * corner(i), toWorld * corner(i | bit)}, false});
    return edges;
}

}  // namespace

View3D::View3D(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("view3d"));
    setMinimumSize(160, 160);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!openGlAvailable()) {
        auto* label = new QLabel(tr("3D view not available: this display offers no OpenGL"), this);
        label->setObjectName(QStringLiteral("view3dNotice"));
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setStyleSheet(QStringLiteral("QLabel { color: #bbbbbb; background: #202020; }"));
        layout->addWidget(label);
        return;
    }
    m_vtk = std::make_unique<Vtk>();
    m_vtk->widget = new QVTKOpenGLNativeWidget(this);
    m_vtk->window = vtkSmartPointer<vtkGenericOpenGLRenderWindow>::New();
    m_vtk->widget->setRenderWindow(m_vtk->window);
    m_vtk->renderer = vtkSmartPointer<vtkRenderer>::New();
    m_vtk->renderer->SetBackground(0.08, 0.08, 0.1);
    m_vtk->renderer->SetBackground2(0.25, 0.25, 0.3);
    m_vtk->renderer->GradientBackgroundOn();
    m_vtk->window->AddRenderer(m_vtk->renderer);
    layout->addWidget(m_vtk->widget);
}

View3D::~View3D() = default;

bool View3D::openGlAvailable()
{
    static const bool available = [] {
        if (QGuiApplication::platformName() == QLatin1String("offscreen") ||
            QGuiApplication::platformName() == QLatin1String("minimal"))
            return false;
        QOpenGLContext context;
        if (!context.create())
            return false;
        QOffscreenSurface surface;
        surface.create();
        return context.makeCurrent(&surface) && (context.doneCurrent(), true);
    }();
    return available;
}

bool View3D::isRendering() const
{
    return m_vtk != nullptr;
}

void View3D::setScene(const DataList& data, const AnnotationModel* annotations, const Eigen::Vector3d& cursor)
{
    if (!m_vtk)
        return;
    for (auto& actor : m_vtk->actors)
        m_vtk->renderer->RemoveActor(actor);
    m_vtk->actors.clear();
    for (const Data* d : data) {
        if (auto* mesh = dynamic_cast<const Mesh*>(d); mesh && mesh->isValid())
            m_vtk->actors.push_back(meshActor(*mesh));
        else if (const Mesh* surface = structureSurface(d))
            m_vtk->actors.push_back(meshActor(*surface, d->getComponent<Dicom::RTStructureDataComponent>()->color));
        else if (auto* cloud = dynamic_cast<const PointCloud*>(d))
            m_vtk->actors.push_back(pointCloudActor(*cloud));
        else if (auto* set = dynamic_cast<const SharedImageSet*>(d); set && set->selected()) {
            auto actor = linesActor(outlineOf(*set->selected()));
            actor->GetProperty()->SetColor(0.7, 0.7, 0.7);
            m_vtk->actors.push_back(actor);
        }
    }
    if (annotations)
        for (InteractiveObject* object : annotations->objects()) {
            const Annotation* a = object->annotation();
            if (!a || !a->visible.value())
                continue;
            std::vector<std::pair<std::vector<Eigen::Vector3d>, bool>> strips;
            for (const auto& polyline : a->polylines())
                strips.push_back({polyline.points, polyline.closed});
            if (strips.empty())
                continue;
            auto actor = linesActor(strips);
            const QColor c(a->color.value());
            actor->GetProperty()->SetColor(c.redF(), c.greenF(), c.blueF());
            actor->GetProperty()->SetLineWidth(static_cast<float>(a->lineWidth.value()));
            m_vtk->actors.push_back(actor);
        }
    for (auto& actor : m_vtk->actors)
        m_vtk->renderer->AddActor(actor);
    if (!m_cameraSet && !m_vtk->actors.empty())
        resetCamera();
    setCursor(cursor);
}

void View3D::setCursor(const Eigen::Vector3d& cursor)
{
    if (!m_vtk)
        return;
    if (m_vtk->cursor)
        m_vtk->renderer->RemoveActor(m_vtk->cursor);
    m_vtk->cursor = nullptr;
    if (!m_vtk->actors.empty()) {
        double b[6];
        m_vtk->renderer->ComputeVisiblePropBounds(b);
        const double arm = std::max({b[1] - b[0], b[3] - b[2], b[5] - b[4]}) * 0.08;
        std::vector<std::pair<std::vector<Eigen::Vector3d>, bool>> axes;
        for (int i = 0; i < 3; ++i)
            axes.push_back({{cursor - Eigen::Vector3d::Unit(i) * arm, cursor + Eigen::Vector3d::Unit(i) * arm}, false});
        m_vtk->cursor = linesActor(axes);
        m_vtk->cursor->GetProperty()->SetColor(1.0, 0.85, 0.2);
        m_vtk->cursor->GetProperty()->SetLineWidth(2);
        m_vtk->renderer->AddActor(m_vtk->cursor);
    }
    m_vtk->widget->renderWindow()->Render();
}

void View3D::resetCamera()
{
    if (!m_vtk || m_vtk->actors.empty())
        return;
    // Patient seen from the front, head up.
    vtkCamera* camera = m_vtk->renderer->GetActiveCamera();
    camera->SetPosition(0, -1, 0);
    camera->SetFocalPoint(0, 0, 0);
    camera->SetViewUp(0, 0, 1);
    camera->Azimuth(30);
    camera->Elevation(15);
    m_vtk->renderer->ResetCamera();
    m_cameraSet = true;
    m_vtk->widget->renderWindow()->Render();
}

void View3D::setSlicePlanes(const std::vector<SlicePlane>& planes)
{
    if (!m_vtk)
        return;
    for (auto& actor : m_vtk->planes)
        m_vtk->renderer->RemoveActor(actor);
    m_vtk->planes.clear();
    for (const SlicePlane& plane : planes) {
        const QImage rgb = plane.image.convertToFormat(QImage::Format_RGB888);
        if (rgb.isNull())
            continue;
        vtkNew<vtkImageData> pixels;
        pixels->SetDimensions(rgb.width(), rgb.height(), 1);
        pixels->AllocateScalars(VTK_UNSIGNED_CHAR, 3);
        // Texture row 0 lies at the plane's origin, as does the picture's first row.
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(pixels->GetScalarPointer(0, y, 0), rgb.constScanLine(y),
                        static_cast<std::size_t>(rgb.width()) * 3);
        vtkNew<vtkTexture> texture;
        texture->SetInputData(pixels);
        texture->InterpolateOff();
        vtkNew<vtkPlaneSource> source;
        const Eigen::Vector3d p1 = plane.origin + plane.right * (rgb.width() * plane.millimetresPerPixel);
        const Eigen::Vector3d p2 = plane.origin + plane.down * (rgb.height() * plane.millimetresPerPixel);
        source->SetOrigin(plane.origin.x(), plane.origin.y(), plane.origin.z());
        source->SetPoint1(p1.x(), p1.y(), p1.z());
        source->SetPoint2(p2.x(), p2.y(), p2.z());
        source->Update();
        auto actor = actorFor(source->GetOutput());
        actor->SetTexture(texture);
        actor->GetProperty()->LightingOff();
        m_vtk->planes.push_back(actor);
        m_vtk->renderer->AddActor(actor);
    }
    m_vtk->widget->renderWindow()->Render();
}

QImage View3D::renderToImage()
{
    if (!m_vtk)
        return QImage();
    m_vtk->widget->renderWindow()->Render();
    return m_vtk->widget->grabFramebuffer();
}

}  // namespace Dravelin

#include "moc_View3D.cpp"
