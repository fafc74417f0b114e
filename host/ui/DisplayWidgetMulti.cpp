#include "host/ui/DisplayWidgetMulti.h"

#include "host/data/AnnotationModel.h"
#include "host/data/SharedImageSet.h"
#include "host/ui/SliceView.h"
#include "host/ui/View3D.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>

#include <algorithm>

namespace Dravelin {

DisplayWidgetMulti::DisplayWidgetMulti(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("displayWidgetMulti"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(2);
    for (int i = 0; i < 3; ++i)
        m_slices[i] = new SliceView(static_cast<SliceView::Orientation>(i), this, this);
    m_view3d = new View3D(this);
    grid->addWidget(m_slices[SliceView::Axial], 0, 0);
    grid->addWidget(m_slices[SliceView::Sagittal], 0, 1);
    grid->addWidget(m_slices[SliceView::Coronal], 1, 0);
    grid->addWidget(m_view3d, 1, 1);
    m_labelBar = new QWidget(this);
    auto* bar = new QHBoxLayout(m_labelBar);
    bar->setContentsMargins(6, 2, 6, 2);
    bar->addWidget(new QLabel(tr("Label opacity"), m_labelBar));
    auto* opacity = new QSlider(Qt::Horizontal, m_labelBar);
    opacity->setObjectName(QStringLiteral("labelOpacitySlider"));
    opacity->setRange(0, 100);
    opacity->setValue(static_cast<int>(m_labelOverlay.opacity * 100));
    opacity->setMaximumWidth(200);
    bar->addWidget(opacity);
    auto* outline = new QCheckBox(tr("Outline"), m_labelBar);
    outline->setObjectName(QStringLiteral("labelOutlineCheck"));
    bar->addWidget(outline);
    bar->addStretch();
    connect(opacity, &QSlider::valueChanged, this, [this](int value) {
        setLabelOverlay({value / 100.0, m_labelOverlay.outline});
    });
    connect(outline, &QCheckBox::toggled, this, [this](bool on) { setLabelOverlay({m_labelOverlay.opacity, on}); });
    m_labelBar->setStyleSheet(QStringLiteral("QLabel, QCheckBox { color: #dddddd; }"));  // on the dark background
    m_labelBar->hide();
    grid->addWidget(m_labelBar, 2, 0, 1, 2);
    grid->setRowStretch(0, 1);
    grid->setRowStretch(1, 1);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(40, 40, 40));
    setPalette(p);
}

DisplayWidgetMulti::~DisplayWidgetMulti() = default;

void DisplayWidgetMulti::setVisibleData(const DataList& data)
{
    if (data == m_visible)
        return;
    const bool wasEmpty = m_visible.empty();
    for (const Data* old : m_visible)
        if (!data.contains(old))
            forget(old);
    m_visible = data;
    m_labelBar->setVisible(std::any_of(m_visible.begin(), m_visible.end(), isLabelMap));
    if (wasEmpty && !m_visible.empty())
        resetViews();
    refresh();
    signalVisibleDataChanged.notify(m_visible);
    emit visibleDataChanged();
}

void DisplayWidgetMulti::forget(const Data* data)
{
    m_windows.erase(static_cast<const SharedImageSet*>(dynamic_cast<const SharedImageSet*>(data)));
}

void DisplayWidgetMulti::refresh()
{
    for (SliceView* view : m_slices)
        view->update();
    m_view3d->setScene(m_visible, m_annotations, m_cursor);
    updatePlanes();
}

void DisplayWidgetMulti::updatePlanes()
{
    if (!m_view3d->isRendering())
        return;
    std::vector<View3D::SlicePlane> planes;
    const SharedImageSet* top = topImage();
    if (top && top->selected())
        for (SliceView* view : m_slices) {
            SliceView::Plane p = view->renderPlane(top->selected()->worldBounds(), 256);
            planes.push_back({p.image, p.origin, p.right, p.down, p.millimetresPerPixel});
        }
    m_view3d->setSlicePlanes(planes);
}

void DisplayWidgetMulti::setAnnotationModel(AnnotationModel* model)
{
    if (m_annotations)
        disconnect(m_annotations, nullptr, this, nullptr);
    m_annotations = model;
    if (model) {
        connect(model, &AnnotationModel::objectAdded, this, &DisplayWidgetMulti::refresh);
        connect(model, &AnnotationModel::objectChanged, this, &DisplayWidgetMulti::refresh);
        // Removal signals come before the object goes: redraw once it is gone.
        connect(model, &AnnotationModel::objectAboutToBeRemoved, this, &DisplayWidgetMulti::refresh,
                Qt::QueuedConnection);
    }
    refresh();
}

void DisplayWidgetMulti::setCursor(const Eigen::Vector3d& world)
{
    m_cursor = world;
    for (SliceView* view : m_slices)
        view->update();
    m_view3d->setCursor(world);
    updatePlanes();
    emit cursorChanged();
}

SharedImageSet* DisplayWidgetMulti::topImage() const
{
    SharedImageSet* label = nullptr;
    for (auto it = m_visible.end(); it != m_visible.begin();) {
        --it;
        if (auto* set = dynamic_cast<SharedImageSet*>(*it); set && !set->empty()) {
            if (!isLabelMap(set))
                return set;
            label = label ? label : set;
        }
    }
    return label;
}

bool DisplayWidgetMulti::isLabelMap(const Data* data)
{
    return data && data->modality() == Data::ModalityLabel && dynamic_cast<const SharedImageSet*>(data);
}

void DisplayWidgetMulti::setLabelOverlay(LabelOverlay overlay)
{
    overlay.opacity = std::clamp(overlay.opacity, 0.0, 1.0);
    m_labelOverlay = overlay;
    for (SliceView* view : m_slices)
        view->update();
    updatePlanes();
}

DisplayWidgetMulti::Window DisplayWidgetMulti::window(const SharedImageSet* image) const
{
    if (!image)
        return {};
    auto found = m_windows.find(image);
    if (found != m_windows.end())
        return found->second;
    Window w;
    if (image->hasWindow()) {
        w = {image->windowCenter(), image->windowWidth()};
    } else if (const SharedImage* first = image->selected()) {
        auto [low, high] = first->minMax();
        low = low * first->rescaleSlope() + first->rescaleIntercept();
        high = high * first->rescaleSlope() + first->rescaleIntercept();
        if (low > high)
            std::swap(low, high);
        w = {(low + high) / 2.0, std::max(1.0, high - low)};
    }
    m_windows[image] = w;
    return w;
}

void DisplayWidgetMulti::setWindow(const SharedImageSet* image, Window window)
{
    if (!image)
        return;
    window.width = std::max(window.width, 1e-6);
    m_windows[image] = window;
    for (SliceView* view : m_slices)
        view->update();
    updatePlanes();
}

void DisplayWidgetMulti::resetViews()
{
    std::optional<Eigen::AlignedBox3d> box;
    for (const Data* data : m_visible)
        if (auto b = data->bounds())
            box = box ? box->merged(*b) : *b;
    if (box)
        m_cursor = box->center();
    for (SliceView* view : m_slices)
        view->fit();
    m_view3d->resetCamera();
    emit cursorChanged();
}

void DisplayWidgetMulti::setHoverText(const QString& text)
{
    if (text == m_hoverText)
        return;
    m_hoverText = text;
    emit hoverTextChanged(text);
}

}  // namespace Dravelin

#include "moc_DisplayWidgetMulti.cpp"
