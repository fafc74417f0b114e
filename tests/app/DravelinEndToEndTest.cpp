// The application with its real plug-in folder, driven through its menus; the dialogs are
// answered the way a user would.
#include "browser/models/DicomBrowserModel.h"
#include "browser/widgets/DicomBrowser.h"
#include "editor/DicomEditor.h"
#include "host/app/FactoryRegistry.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataModel.h"
#include "host/data/SharedImageSet.h"
#include "host/plugin/PluginLoader.h"
#include "host/ui/DisplayWidgetMulti.h"
#include "host/ui/MainWindowBase.h"
#include "plugin/DicomIoControllerExportDialog.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/ModalAnswer.h"
#include "tests/support/PhiDataset.h"
#include "tests/support/RtPhantom.h"
#include "tests/support/TestEnvironment.h"

#include <dcmtk/dcmdata/dcfilefo.h>

#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>
#include <QPushButton>
#include <QSettings>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <set>

using namespace Dravelin;
namespace T = Dravelin::Test;

namespace {

// A guard against hangs only: every wait ends as soon as its condition holds.
constexpr int kHang = 300000;

class App : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        QSettings().clear();
        loader.setApplicationController(&window);
        ASSERT_EQ(loader.loadFolder(DRAVELIN_PLUGIN_DIR), 2);
        window.rebuildMenus();
        window.show();
    }
    std::vector<Data*> volumes() const { return window.dataModel()->getAll(Data::KindVolume); }
    QString message() const { return window.statusBar()->currentMessage(); }
    std::string said() const { return message().toStdString(); }
    T::TempDir settings, dir;
    PluginLoader loader{&FactoryRegistry::global()};
    MainWindowBase window;
};

std::vector<double> values(const SharedImage& image)
{
    std::vector<double> v{double(image.width()), double(image.height()), double(image.slices())};
    for (int z = 0; z < image.slices(); ++z)
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                v.push_back(image.realValue(x, y, z, 0));
    return v;
}

}  // namespace

TEST_F(App, BrowserLoadsTwoCheckedSeriesAndOneExportsAsJpegLsAndReloadsEqual)
{
    ASSERT_TRUE(T::runGenerator({"folder", dir.file("in"), "--patients", "1", "--studies", "1", "--series", "3",
                                 "--images", "3", "--size", "64"}));
    T::ModalAnswer folder(T::isVisibleOf<QFileDialog>, [&](QWidget* w) {
        static_cast<QFileDialog*>(w)->selectFile(dir.file("in"));
        static_cast<QDialog*>(w)->accept();
    });
    T::ModalAnswer browser(T::isVisibleOf<DicomBrowser>, [](QWidget* w) {
        auto* b = static_cast<DicomBrowser*>(w);
        QAbstractItemModel* model = b->browserModel();
        const QModelIndex study = model->index(0, 0, model->index(0, 0));
        for (int row : {0, 1})
            model->setData(model->index(row, 0, study), Qt::Checked, Qt::CheckStateRole);
        b->accept();
    });
    window.algorithmAction("Dicom.DicomIOAlgorithmFolder")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return volumes().size() == 2; }, kHang));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.displayWidget()->visibleData().contains(volumes().front()); }));

    auto* image = static_cast<SharedImageSet*>(volumes().front());
    window.setSelectedData(DataList{image});
    T::ModalAnswer exporter(T::isVisibleOf<DicomIoControllerExportDialog>, [&](QWidget* w) {
        auto* d = static_cast<DicomIoControllerExportDialog*>(w);
        d->gotoPage2();
        d->findChild<QComboBox*>("compressionComboBox")->setCurrentIndex(7);  // JPEG-LS lossless
        d->findChild<QLineEdit*>("pathEdit")->setText(dir.file("out"));
        d->findChild<QAbstractButton*>("exportButton")->click();
    });
    window.exportAction("Dicom.DicomIoAlgorithm")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return T::filesUnder(dir.file("out")).size() == 3; }, kHang));
    EXPECT_TRUE(QTest::qWaitFor([&] { return message() == "3 files written to " + dir.file("out"); })) << said();
    const OwningDataList output = T::readDicom(dir.file("out"));
    ASSERT_TRUE(output.getImage());
    EXPECT_EQ(values(*image->get(0)), values(*output.getImage()->get(0)));
}

// Folders named on the command line or dropped on the window open as File > Open does: read
// with their sub-folders, through the browser when they hold several series; what could not be
// read is said in the status bar.
TEST_F(App, NamedAndDroppedFoldersOpenAsFileOpenDoes)
{
    ASSERT_TRUE(T::runGenerator({"folder", dir.file("two"), "--patients", "2", "--studies", "1", "--series", "1",
                                 "--images", "2", "--size", "16"}));
    int series = 0;
    T::ModalAnswer browser(T::isVisibleOf<DicomBrowser>, [&](QWidget* w) {
        auto* b = static_cast<DicomBrowser*>(w);
        QAbstractItemModel* model = b->browserModel();
        for (int p = 0; p < model->rowCount(); ++p) {
            const QModelIndex study = model->index(0, 0, model->index(p, 0));
            series += model->rowCount(study);
            model->setData(model->index(0, 0, study), Qt::Checked, Qt::CheckStateRole);
        }
        b->accept();
    });
    window.openPaths({dir.file("two")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return volumes().size() == 2; }, kHang));
    EXPECT_EQ(series, 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return message().startsWith("Loaded 2 image sets"); })) << said();

    // One series, dropped: loaded at once.
    ASSERT_TRUE(T::runGenerator({"folder", dir.file("one"), "--patients", "1", "--studies", "1", "--series", "1",
                                 "--images", "2", "--size", "16"}));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(dir.file("one"))});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    ASSERT_TRUE(drop.isAccepted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return volumes().size() == 3; }, 60000));
    // Its recent entry is named after the series, not the file it came from.
    ASSERT_FALSE(MainWindowBase::recentFiles().empty());
    EXPECT_EQ(MainWindowBase::recentFiles().front().label, volumes().back()->name());

    // Nothing DICOM: said, with what the scan skipped and why.
    ASSERT_TRUE(T::writeFile(dir.file("none/notes.txt"), "not an image\n"));
    window.openPaths({dir.file("none")});
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return message() ==
               "No DICOM data in " + dir.file("none") + ": 1 file skipped: 1 not DICOM (the list is in the log)";
    })) << said();
}

TEST_F(App, EditorFromTheToolsMenuLeavesNoIdentifyingValue)
{
    for (int i = 0; i < 2; ++i) {
        T::PhiDatasetOptions o;
        o.sopInstanceUid += std::to_string(i);
        ASSERT_TRUE(T::writePhiFile(dir.file(QString("in/sub/%1.dcm").arg(i)), o));
    }
    QAction* action = window.algorithmAction("DICOM.DicomEditor");
    ASSERT_TRUE(action && action->isEnabled());
    action->trigger();
    DicomEditor* editor = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (editor = window.findChild<DicomEditor*>()) && editor->isVisible(); }));
    editor->browserModel()->scanDirectoryBlocking(dir.file("in"), true, false, true);
    editor->selectAll();
    editor->setCurrentPath(dir.file("in"));
    editor->findChild<QLineEdit*>("outputDirectoryEdit")->setText(dir.file("out"));
    editor->accept();
    const QStringList written = T::filesUnder(dir.file("out"));
    ASSERT_EQ(written.size(), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return message() == "2 files written to " + dir.file("out"); })) << said();
    for (const QString& file : written) {
        DcmFileFormat f;
        ASSERT_TRUE(f.loadFile(dir.file("out/" + file).toUtf8().constData()).good());
        EXPECT_TRUE(T::survivingMarkers(*f.getDataset()).empty()) << file.toStdString();
    }
}

TEST_F(App, StructureSetDrawsContoursAndConvertsToALabelMap)
{
    const QString reader = window.dicomReaderId();
    window.loadLocation(T::rtPhantomDir() + "/ct", reader);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.pendingLoads() == 0; }, kHang));
    window.loadLocation(T::rtPhantomDir() + "/rtstruct.dcm", reader);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.pendingLoads() == 0; }, kHang));
    const QImage shot = window.displayWidget()->grab().toImage();
    // The sphere's contour in red and the box's in green: the structures' own colours.
    int red = 0, green = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            red += c.red() > 200 && c.green() < 60 && c.blue() < 60;
            green += c.green() > 200 && c.red() < 60 && c.blue() < 60;
        }
    EXPECT_GT(red, 100);
    EXPECT_GT(green, 100);

    window.setSelectedData(window.dataModel()->getAllAsList(Data::KindPointCloud));
    window.algorithmAction("Dicom.RTStructureToLabelMap")->trigger();
    QPushButton* compute = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (compute = window.findChild<QPushButton*>("computeButton")); }));
    compute->click();
    ASSERT_EQ(volumes().size(), 2u);
    const std::vector<double> labels = values(*static_cast<SharedImageSet*>(volumes().back())->get(0));
    EXPECT_EQ(std::set<double>(labels.begin() + 3, labels.end()), (std::set<double>{0, 1, 2, 3}));
}
