#include "host/data/Annotation.h"
#include "host/data/AnnotationModel.h"
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
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

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
