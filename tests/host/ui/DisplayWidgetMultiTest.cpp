#include "host/data/Annotation.h"
#include "host/data/AnnotationModel.h"
#include "host/data/LabelTableDataComponent.h"
#include "host/data/Mesh.h"
#include "host/data/SharedImageSet.h"
#include "host/ui/DisplayWidgetMulti.h"
#include "host/ui/SliceView.h"
#include "host/ui/View3D.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace Dravelin;

namespace {

int coded(int x, int y, int z)
{
    return (x * 7 + y * 13 + z * 31) % 251;
}

// A 20 x 16 x 12 volume, 1.2 x 0.9 x 2.5 mm, tilted 25 degrees about x and 10 about z, whose
// voxel values name their index.
std::unique_ptr<SharedImageSet> tiltedVolume()
{
    auto image = std::make_unique<SharedImage>(PixelType::UInt8, 20, 16, 12);
    for (int z = 0; z < 12; ++z)
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 20; ++x)
                image->setValue(x, y, z, 0, coded(x, y, z));
    image->setSpacing({1.2, 0.9, 2.5});
    Eigen::Affine3d m = Eigen::Affine3d::Identity();
    m.translate(Eigen::Vector3d(-30, 12, 40));
    m.rotate(Eigen::AngleAxisd(25 * M_PI / 180, Eigen::Vector3d::UnitX()));
    m.rotate(Eigen::AngleAxisd(10 * M_PI / 180, Eigen::Vector3d::UnitZ()));
    image->setImageToWorld(m);
    auto set = std::make_unique<SharedImageSet>(std::move(image));
    set->setWindow(127.5, 255.0);  // grey level = stored value
    return set;
}

class LineAnnotation : public Annotation
{
public:
    QString typeName() const override { return QStringLiteral("Test"); }
    std::vector<Polyline> polylines() const override { return lines; }
    std::vector<Bitmap> bitmaps() const override { return pictures; }
    std::vector<Polyline> lines;
    std::vector<Bitmap> pictures;
};

struct DisplayFixture : ::testing::Test
{
    DisplayFixture()
    {
        display.resize(800, 800);
        display.setAnnotationModel(&annotations);
        display.setVisibleData({volume.get()});
        display.show();
        QCoreApplication::processEvents();
    }
    QImage grab(SliceView::Orientation o) { return display.sliceView(o)->grab().toImage(); }

    std::unique_ptr<SharedImageSet> volume = tiltedVolume();
    AnnotationModel annotations;
    DisplayWidgetMulti display;
};

}  // namespace

// Every orientation shows, at the screen position of a voxel's centre, that voxel: both as the
// value the view reports and as the grey level it draws.
TEST_F(DisplayFixture, TiltedVolumeShowsTheVoxelUnderAWorldPoint)
{
    const SharedImage& image = *volume->get(0);
    const Eigen::Vector3i voxels[] = {{0, 0, 0}, {19, 15, 11}, {7, 3, 5}, {12, 9, 2}, {3, 14, 10}};
    for (int o = 0; o < 3; ++o) {
        SliceView* view = display.sliceView(o);
        view->setZoom(0.1);  // pixels far smaller than voxels
        for (const Eigen::Vector3i& v : voxels) {
            SCOPED_TRACE(testing::Message() << SliceView::orientationName(SliceView::Orientation(o)).toStdString()
                                            << " voxel " << v.transpose());
            const Eigen::Vector3d world = image.voxelToWorld() * v.cast<double>();
            display.setCursor(world);
            view->centerOn(world);
            const QPointF at = view->positionOf(world);
            const auto sample = view->sampleAt(view->worldAt(at));
            ASSERT_TRUE(sample);
            EXPECT_EQ(sample->voxel, v);
            const QImage shot = grab(SliceView::Orientation(o));
            // The cross-hair passes through the point; look one pixel diagonally off it.
            const QPoint pixel(static_cast<int>(at.x()) + 2, static_cast<int>(at.y()) + 2);
            EXPECT_EQ(qGray(shot.pixel(pixel)), coded(v.x(), v.y(), v.z()));
        }
    }
}

TEST_F(DisplayFixture, ResizingKeepsTheDataFittedUntilTheUserZooms)
{
    SliceView* view = display.sliceView(SliceView::Axial);
    const double fitted = view->millimetresPerPixel();
    display.resize(400, 400);
    QCoreApplication::processEvents();
    EXPECT_GT(view->millimetresPerPixel(), fitted * 1.5);
    view->setZoom(0.5);
    display.resize(800, 800);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(view->millimetresPerPixel(), 0.5);
}

TEST_F(DisplayFixture, DraggingChangesTheWindowAndAClickMovesTheCrossHair)
{
    struct Case
    {
        QPoint move;
        int widthSign, centerSign;
    };
    const Case cases[] = {{{60, 0}, +1, 0}, {{-60, 0}, -1, 0}, {{0, 60}, 0, +1}, {{0, -60}, 0, -1}};
    SliceView* view = display.sliceView(SliceView::Axial);
    const QPoint start(300, 300);
    for (const Case& c : cases) {
        const auto before = display.window(volume.get());
        const Eigen::Vector3d cursor = display.cursor();
        QTest::mousePress(view, Qt::LeftButton, {}, start);
        QMouseEvent move(QEvent::MouseMove, start + c.move, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &move);
        QTest::mouseRelease(view, Qt::LeftButton, {}, start + c.move);
        const auto after = display.window(volume.get());
        EXPECT_EQ((after.width > before.width) - (after.width < before.width), c.widthSign);
        EXPECT_EQ((after.center > before.center) - (after.center < before.center), c.centerSign);
        EXPECT_TRUE(display.cursor().isApprox(cursor)) << "a drag must not move the cross-hair";
    }
    const auto window = display.window(volume.get());
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(200, 250));
    EXPECT_TRUE(display.cursor().isApprox(view->worldAt(QPointF(200, 250)), 1e-9));
    // Moving on with no button held is hovering, not a drag.
    QMouseEvent hover(QEvent::MouseMove, QPoint(260, 330), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &hover);
    EXPECT_EQ(display.window(volume.get()).width, window.width);
    EXPECT_EQ(display.window(volume.get()).center, window.center);
}

// A closed square in the plane z = 50 is drawn as lines on the axial slice through it only, and
// as crossing points on a coronal slice that cuts it; a bitmap in that plane shows there only.
TEST_F(DisplayFixture, AnnotationsAppearOnTheSlicesTheyCross)
{
    auto line = std::make_unique<LineAnnotation>();
    line->color = QStringLiteral("#ff0000");
    line->lineWidth = 4.0;
    line->lines.push_back({{{-10, 0, 50}, {10, 0, 50}, {10, 20, 50}, {-10, 20, 50}}, true});
    QImage red(4, 4, QImage::Format_RGB32);
    red.fill(QColor(0, 0, 255));
    Eigen::Affine3d bitmapToWorld = Eigen::Affine3d::Identity();
    bitmapToWorld.translate(Eigen::Vector3d(30, 30, 50));
    line->pictures.push_back({red, bitmapToWorld});
    annotations.add(std::unique_ptr<Annotation>(std::move(line)));
    for (int o = 0; o < 3; ++o)
        display.sliceView(o)->setZoom(0.25);

    auto isColourAt = [&](SliceView::Orientation o, const Eigen::Vector3d& world, const QColor& expected) {
        const QImage shot = grab(o);
        const QColor c(shot.pixel(display.sliceView(o)->positionOf(world).toPoint()));
        return std::abs(c.red() - expected.red()) + std::abs(c.green() - expected.green()) +
                   std::abs(c.blue() - expected.blue()) <
               90;
    };
    struct Case
    {
        SliceView::Orientation view;
        Eigen::Vector3d cursor, probe;
        QColor expected;
        bool present;
    };
    const QColor lineColour(255, 0, 0), bitmapColour(0, 0, 255);
    const Case cases[] = {
        {SliceView::Axial, {0, 10, 50}, {5, 0, 50}, lineColour, true},       // on an edge
        {SliceView::Axial, {0, 10, 51.5}, {5, 0, 51.5}, lineColour, false},  // more than half a slice off
        {SliceView::Coronal, {0, 10, 45}, {10, 10, 50}, lineColour, true},   // the right edge crosses y = 10
        {SliceView::Coronal, {0, 30, 45}, {10, 30, 50}, lineColour, false},  // beyond the square
        {SliceView::Axial, {0, 10, 50}, {31.5, 31.5, 50}, bitmapColour, true},
        {SliceView::Axial, {0, 10, 50}, {33.2, 33.2, 50}, bitmapColour, true},  // its far corner: 4 pixels wide
        {SliceView::Axial, {0, 10, 50}, {34, 34, 50}, bitmapColour, false},
        {SliceView::Axial, {0, 10, 53}, {31.5, 31.5, 53}, bitmapColour, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "view " << c.view << " probe " << c.probe.transpose());
        display.setCursor(c.cursor);
        display.sliceView(c.view)->centerOn(c.probe);
        EXPECT_EQ(isColourAt(c.view, c.probe, c.expected), c.present);
    }
}

TEST_F(DisplayFixture, TheWheelStepsSlicesOfVolumesAndFramesOfFrameSets)
{
    SliceView* axial = display.sliceView(SliceView::Axial);
    const double z = display.cursor().z();
    QWheelEvent wheel(QPointF(100, 100), QPointF(axial->mapToGlobal(QPoint(100, 100))), QPoint(), QPoint(0, 240),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(axial, &wheel);
    // Two slices of the voxel axis nearest the line of sight, projected onto it.
    const Eigen::Matrix3d axes = volume->get(0)->voxelToWorld().linear();
    EXPECT_NEAR(display.cursor().z() - z, 2 * std::abs(axes(2, 2)), 1e-9);

    SharedImageSet frames;
    for (int i = 0; i < 4; ++i)
        frames.add(std::make_unique<SharedImage>(PixelType::UInt8, 8, 8));
    display.setVisibleData({&frames});
    QCoreApplication::sendEvent(axial, &wheel);
    EXPECT_EQ(frames.selectedIndex(), 2);
    display.setVisibleData({});
}

// Renders a mesh with the OpenGL of a virtual X server. Runs itself again under xvfb-run; the
// inner run writes the picture, the outer one checks it.
TEST(View3DTest, RendersAMeshUnderXvfb)
{
    const QByteArray output = qgetenv("DRAVELIN_VIEW3D_PNG");
    if (!output.isEmpty()) {
        ASSERT_TRUE(View3D::openGlAvailable()) << "no OpenGL under the virtual X server";
        // An octahedron, 40 mm across.
        Mesh mesh({{20, 0, 0}, {-20, 0, 0}, {0, 20, 0}, {0, -20, 0}, {0, 0, 20}, {0, 0, -20}},
                  {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}});
        View3D view;
        view.resize(240, 240);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        view.setScene({&mesh}, nullptr, Eigen::Vector3d::Zero());
        view.resetCamera();
        ASSERT_TRUE(view.renderToImage().save(QString::fromLocal8Bit(output)));
        return;
    }
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "xvfb-run is not installed (apt-get install xvfb xauth): the 3D view is not checked";
    const QString png =
        QDir::temp().filePath(QStringLiteral("dravelin-view3d-%1.png").arg(QCoreApplication::applicationPid()));
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DRAVELIN_VIEW3D_PNG"), png);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(xvfb, {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 640x480x24"),
                     QCoreApplication::applicationFilePath(), QStringLiteral("--gtest_filter=View3DTest.*")});
    ASSERT_TRUE(run.waitForFinished(-1));
    ASSERT_EQ(run.exitCode(), 0) << run.readAll().toStdString();
    QImage picture(png);
    QFile::remove(png);
    ASSERT_FALSE(picture.isNull());
    // The surface is shaded: many grey levels, and far more than the background's gradient
    // shows along one column at the picture's edge.
    QSet<QRgb> colours;
    int surface = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            colours.insert(c.rgb());
            // The mesh colour is warm; the background blue-grey.
            surface += c.red() > c.blue() + 20;
        }
    EXPECT_GT(surface, picture.width() * picture.height() / 20);
    EXPECT_GT(colours.size(), 50);
}

namespace {

// A 40 x 40 x 10 grey volume (value 100, 1 mm voxels from the origin) and a label map on its
// grid: label 3 on x 10..19, y 10..29, every slice.
struct LabelFixture : ::testing::Test
{
    LabelFixture()
    {
        auto grey = std::make_unique<SharedImage>(PixelType::UInt8, 40, 40, 10);
        auto labels = std::make_unique<SharedImage>(PixelType::UInt16, 40, 40, 10);
        for (int z = 0; z < 10; ++z)
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 40; ++x) {
                    grey->setValue(x, y, z, 0, 100);
                    labels->setValue(x, y, z, 0, x >= 10 && x < 20 && y >= 10 && y < 30 ? 3 : 0);
                }
        ct = std::make_unique<SharedImageSet>(std::move(grey));
        ct->setWindow(127.5, 255.0);
        labelMap = std::make_unique<SharedImageSet>(std::move(labels));
        labelMap->setModality(Data::ModalityLabel);
        auto table = std::make_unique<LabelTableDataComponent>();
        table->set(3, {QStringLiteral("Liver"), QColor(0, 255, 0)});
        labelMap->addComponent(std::move(table));
        display.resize(600, 600);
        display.setVisibleData({ct.get(), labelMap.get()});
        display.show();
        QCoreApplication::processEvents();
        display.setCursor({20, 20, 5});
        display.sliceView(SliceView::Axial)->setZoom(0.25);
    }
    QColor at(SliceView::Orientation o, const Eigen::Vector3d& world)
    {
        SliceView* view = display.sliceView(o);
        view->centerOn(world);
        return QColor(view->grab().toImage().pixel(view->positionOf(world).toPoint()));
    }

    std::unique_ptr<SharedImageSet> ct, labelMap;
    DisplayWidgetMulti display;
};

}  // namespace

// The label map lies over the CT in its labels' colours, as fill or outline at the chosen
// opacity; the CT stays the image the window and the value under the mouse belong to.
TEST_F(LabelFixture, LabelMapIsAColourOverlayOnTheImage)
{
    EXPECT_EQ(display.topImage(), ct.get());
    EXPECT_TRUE(display.findChild<QWidget*>("labelOpacitySlider")->isVisibleTo(&display));
    const QColor grey(100, 100, 100), half(50, 178, 50), full(0, 255, 0);
    struct Case
    {
        double opacity;
        bool outline;
        Eigen::Vector3d probe;
        QColor expected;
    };
    const Case cases[] = {
        {0.5, false, {15, 20, 5}, half},                                  // inside
        {0.5, false, {25, 20, 5}, grey},                                  // outside
        {1.0, false, {15, 20, 5}, full}, {0.5, true, {15, 20, 5}, grey},  // outline: the inside stays clear
        {0.0, false, {15, 20, 5}, grey},
    };
    auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= 6;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "opacity " << c.opacity << " outline " << c.outline << " probe "
                                        << c.probe.transpose());
        display.setLabelOverlay({c.opacity, c.outline});
        const QColor seen = at(SliceView::Axial, c.probe);
        EXPECT_TRUE(near(seen, c.expected)) << seen.name().toStdString();
    }
    // The outline marks the label's edges (x = 9.5 and 19.5 mm) and nothing else on a row.
    display.setLabelOverlay({0.5, true});
    SliceView* axial = display.sliceView(SliceView::Axial);
    axial->centerOn({15, 20, 5});
    const QImage shot = axial->grab().toImage();
    std::vector<double> marked;
    for (int x = 0; x < shot.width(); ++x) {
        const QPointF p(x + 0.5, axial->positionOf({15, 20, 5}).y());
        if (near(QColor(shot.pixel(p.toPoint())), half))
            marked.push_back(axial->worldAt(p).x());
    }
    ASSERT_FALSE(marked.empty());
    for (double x : marked)
        EXPECT_LT(std::min(std::abs(x - 9.5), std::abs(x - 19.5)), 0.5) << x;
}

// A stack of axial U-shaped contours seen on the coronal view: the stretches inside the U are
// drawn in the contour's colour, the gap between its arms is not.
TEST_F(DisplayFixture, ContoursShowTheirSectionsOnTheOtherPlanes)
{
    auto u = std::make_unique<LineAnnotation>();
    u->color = QStringLiteral("#ff0000");
    for (double z = 40; z <= 60; z += 2)
        u->lines.push_back(
            {{{0, 0, z}, {12, 0, z}, {12, 10, z}, {8, 10, z}, {8, 4, z}, {4, 4, z}, {4, 10, z}, {0, 10, z}}, true});
    annotations.add(std::unique_ptr<Annotation>(std::move(u)));
    display.setVisibleData({});
    display.setCursor({0, 7, 50});
    SliceView* coronal = display.sliceView(SliceView::Coronal);
    coronal->setZoom(0.1);
    auto redAt = [&](const Eigen::Vector3d& world) {
        coronal->centerOn(world);
        const QColor c(coronal->grab().toImage().pixel(coronal->positionOf(world).toPoint()));
        return c.red() > 60 && c.green() < 40;
    };
    EXPECT_TRUE(redAt({2, 7, 50.6}));   // in an arm, between two contours
    EXPECT_TRUE(redAt({10, 7, 48.6}));  // in the other arm
    EXPECT_FALSE(redAt({6, 7, 50}));    // the gap between the arms
    EXPECT_FALSE(redAt({14, 7, 50}));   // beside the U
}

// Keys act on the view under the mouse: slices step by one and ten without leaving the volume,
// Home and End reach the first and last slice, + and - zoom, R fits again.
TEST_F(LabelFixture, KeysStepSlicesJumpToTheEndsZoomAndReset)
{
    display.setVisibleData({ct.get()});
    SliceView* axial = display.sliceView(SliceView::Axial);
    axial->fit();
    const double fitted = axial->millimetresPerPixel();
    struct Case
    {
        Qt::Key key;
        double z;     // cursor z after the key, from z = 5
        double zoom;  // millimetres per pixel after it, as a multiple of the fitted value
    };
    const Case cases[] = {
        {Qt::Key_Up, 6, 1},       {Qt::Key_Down, 4, 1},     {Qt::Key_PageUp, 9, 1},  // stops at the last slice
        {Qt::Key_PageDown, 0, 1}, {Qt::Key_Home, 0, 1},     {Qt::Key_End, 9, 1},
        {Qt::Key_Plus, 5, 0.8},   {Qt::Key_Minus, 5, 1.25}, {Qt::Key_A, 5, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << c.key);
        axial->fit();
        display.setCursor({20, 20, 5});
        QTest::keyClick(axial, c.key);
        EXPECT_NEAR(display.cursor().z(), c.z, 1e-9);
        EXPECT_NEAR(axial->millimetresPerPixel(), fitted * c.zoom, 1e-9);
    }
    QTest::keyClick(axial, Qt::Key_Plus);
    QTest::keyClick(axial, Qt::Key_R);
    EXPECT_NEAR(axial->millimetresPerPixel(), fitted, 1e-9);
}

// A CT's menu offers the usual CT windows, the windows stored with it and an automatic one
// from its values; choosing one sets the window.
TEST_F(LabelFixture, WindowPresetsOfACtSetItsWindow)
{
    display.setVisibleData({ct.get()});
    ct->setModality(Data::ModalityCT);
    ct->setWindow(40, 400);
    QMenu menu;
    display.sliceView(SliceView::Axial)->addWindowPresets(menu);
    std::map<QString, QAction*> byName;
    for (QAction* action : menu.actions())
        if (!action->isSeparator())
            byName[action->text()] = action;
    const std::pair<const char*, DisplayWidgetMulti::Window> expected[] = {
        {"Brain  (W 80  L 40)", {40, 80}},          {"Subdural  (W 200  L 75)", {75, 200}},
        {"Stroke  (W 40  L 40)", {40, 40}},         {"Lung  (W 1500  L -600)", {-600, 1500}},
        {"Mediastinum  (W 350  L 50)", {50, 350}},  {"Abdomen  (W 400  L 50)", {50, 400}},
        {"Liver  (W 150  L 30)", {30, 150}},        {"Bone  (W 1800  L 400)", {400, 1800}},
        {"DICOM window  (W 400  L 40)", {40, 400}}, {"Automatic  (W 1  L 100)", {100, 1}},  // every voxel is 100
    };
    EXPECT_EQ(byName.size(), std::size(expected));
    for (const auto& [name, window] : expected) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(byName.count(name));
        byName[name]->trigger();
        EXPECT_EQ(display.window(ct.get()).center, window.center);
        EXPECT_EQ(display.window(ct.get()).width, window.width);
    }
}

// Each view names the slice the cross-hair is on, and its scale bar is a round length that is
// drawn to scale at any zoom.
TEST_F(LabelFixture, SliceIndexAndScaleBarFollowTheCursorAndTheZoom)
{
    display.setVisibleData({ct.get()});
    display.setCursor({20, 12, 3});
    EXPECT_EQ(display.sliceView(SliceView::Axial)->sliceIndex(), std::make_pair(3, 10));
    EXPECT_EQ(display.sliceView(SliceView::Coronal)->sliceIndex(), std::make_pair(12, 40));
    display.setCursor({20, 12, 30});
    EXPECT_FALSE(display.sliceView(SliceView::Axial)->sliceIndex());

    SliceView* axial = display.sliceView(SliceView::Axial);
    for (const double mmPerPixel : {0.25, 0.8}) {
        axial->setZoom(mmPerPixel);
        const SliceView::ScaleBar bar = axial->scaleBar();
        SCOPED_TRACE(testing::Message() << mmPerPixel << " mm per pixel: " << bar.millimetres << " mm");
        EXPECT_NEAR(bar.pixels * mmPerPixel, bar.millimetres, 1e-9);
        EXPECT_LE(bar.pixels, axial->width() / 4.0);
        EXPECT_GT(bar.pixels, axial->width() / 10.0);  // the next round length would not fit
        const double decade = std::pow(10.0, std::floor(std::log10(bar.millimetres)));
        const double mantissa = bar.millimetres / decade;
        EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 || std::abs(mantissa - 5) < 1e-9);
    }
}
