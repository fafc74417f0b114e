#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/app/ApplicationController.h"
#include "host/core/LogCapture.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataDisplay.h"
#include "host/data/DataGroup.h"
#include "host/data/DataItemModel.h"
#include "host/data/DataModel.h"
#include "host/data/InteractiveObject.h"
#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/data/PointCloudAnnotation.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/annotations/OverlayAnnotation.h"
#include "host/dicom/annotations/RTStructureAnnotation.h"
#include "host/dicom/components/ImageInfoDataComponent.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "host/dicom/components/RTStructureRenderingDataComponent.h"
#include "rt/OverlayAnnotationDataController.h"
#include "rt/RTStructureDataController.h"
#include "rt/RTStructureMesher.h"
#include "rt/RTStructureToLabelMapController.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/ModalAnswer.h"
#include "tests/support/RtPhantom.h"
#include "tests/support/TestApplication.h"
#include "tests/support/TestEnvironment.h"

#include <QColor>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QTreeView>
#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

using namespace Dravelin;
namespace T = Dravelin::Test;

namespace {

using App = T::TestApplication;

std::vector<PointCloud*> structures(const App& app)
{
    std::vector<PointCloud*> out;
    for (Data* d : app.m_data.getAll(Data::KindPointCloud))
        if (d->hasComponent<Dicom::RTStructureDataComponent>())
            out.push_back(static_cast<PointCloud*>(d));
    return out;
}

template <typename T>
std::unique_ptr<T> initController(App& app, T* controller)
{
    std::unique_ptr<T> owned(controller);
    owned->setApplicationController(&app);
    owned->init();
    return owned;
}

// A 16 x 16 overlay plane whose upper left 4 x 4 bits are set.
void addOverlay(DcmDataset& ds)
{
    ds.putAndInsertUint16(DcmTagKey(0x6000, 0x0010), 16);
    ds.putAndInsertUint16(DcmTagKey(0x6000, 0x0011), 16);
    ds.putAndInsertString(DcmTagKey(0x6000, 0x0040), "G");
    const Sint16 origin[2] = {1, 1};
    ds.putAndInsertSint16Array(DcmTagKey(0x6000, 0x0050), origin, 2);
    ds.putAndInsertUint16(DcmTagKey(0x6000, 0x0100), 1);
    ds.putAndInsertUint16(DcmTagKey(0x6000, 0x0102), 0);
    Uint16 bits[16] = {};
    for (int row = 0; row < 4; ++row)
        bits[row] = 0x000F;  // 16 bits per row, least significant bit first
    ds.putAndInsertUint16Array(DcmTag(0x6000, 0x3000, EVR_OW), bits, 16);
}

TEST(RTStructureDataController, CorpusStructureSetShowsColoursAndBuildsItsLinesOnce)
{
    T::TempDir dir;  // the corpus file has no meta header: a copy with one loads like an export
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(T::pydicomData("test_files/rtstruct.dcm").toStdString().c_str()).good());
    ASSERT_TRUE(file.saveFile(dir.file("rtstruct.dcm").toStdString().c_str(), EXS_LittleEndianExplicit).good());
    App app;
    app.m_data.add(T::readDicom(dir.file("rtstruct.dcm")));
    ASSERT_EQ(structures(app).size(), 3u);
    EXPECT_FALSE(Dicom::RTStructureDataController::createCompatible(DataList{}, nullptr));
    DataController* created = nullptr;
    ASSERT_TRUE(Dicom::RTStructureDataController::createCompatible(DataList{structures(app).front()}, &created));
    LogCapture log;
    auto controller = initController(app, static_cast<Dicom::RTStructureDataController*>(created));

    // The tree: the structure set's group with its three regions and their colours.
    QAbstractItemModel* tree = controller->treeView()->model();
    ASSERT_EQ(tree->rowCount(), 1);
    const QModelIndex group = tree->index(0, 0);
    ASSERT_EQ(tree->rowCount(group), 3);
    EXPECT_EQ(tree->index(0, 1, group).data(Qt::DecorationRole).value<QColor>(), QColor(220, 160, 120));
    EXPECT_EQ(tree->index(1, 1, group).data(Qt::DecorationRole).value<QColor>(), QColor(255, 64, 255));
    // What the views draw: closed contours as lines, point contours as markers.
    const Dicom::RTStructureAnnotation bodyLines(structures(app)[0]), isocentre(structures(app)[1]);
    EXPECT_EQ(bodyLines.polylines().size(), 3u);
    EXPECT_TRUE(bodyLines.polylines()[0].closed);
    EXPECT_EQ(isocentre.points().size(), 1u);
    EXPECT_TRUE(isocentre.polylines().empty());

    // Selecting shows; showing twice builds the lines once; no CT is loaded, so no mesh.
    controller->treeView()->selectionModel()->select(tree->index(0, 0, group),
                                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    PointCloud* body = structures(app).front();
    EXPECT_TRUE(app.m_display.visible.contains(body));
    app.m_display.setVisibleData(app.m_display.visible);
    int components = 0;
    for (const auto& c : body->components())
        components += dynamic_cast<Dicom::RTStructureRenderingDataComponent*>(c.get()) ? 1 : 0;
    EXPECT_EQ(components, 1);
    EXPECT_EQ(body->getComponent<Dicom::RTStructureRenderingDataComponent>()->polylines().size(), 3u);
    EXPECT_EQ(controller->pendingMeshes(), 0);
    EXPECT_TRUE(log.contains("waits for its referenced volume to be loaded.", 1));
    controller->treeView()->selectionModel()->clearSelection();
    EXPECT_FALSE(app.m_display.visible.contains(body));
}

// The structure set loaded before its CT: the meshes wait for the CT without an error, then come.
TEST(RTStructureDataController, MeshArrivesForLoadedReferenceAndIsDroppedForDeletedSet)
{
    App app;
    T::RtPhantom phantom = T::loadRtPhantom();
    ASSERT_NE(phantom.volume, nullptr);
    app.m_data.add(std::move(phantom.structureSet));
    auto controller = initController(app, new Dicom::RTStructureDataController);
    PointCloud* sphere = structures(app).at(0);
    PointCloud* box = structures(app).at(1);
    // A marker and an open contour on the same CT: nothing to mesh.
    std::vector<Data*> others;
    for (const char* type : {"POINT", "OPEN_PLANAR"}) {
        auto rt = std::make_unique<Dicom::RTStructureDataComponent>();
        rt->referencedSeriesUid = sphere->getComponent<Dicom::RTStructureDataComponent>()->referencedSeriesUid;
        rt->contours.emplace_back(std::vector<Eigen::Vector3d>{{0, 0, 0}, {5, 0, 0}, {5, 5, 0}}, type);
        auto cloud = std::make_unique<PointCloud>(rt->contours.front().points());
        cloud->addComponent(std::move(rt));
        others.push_back(app.m_data.add(std::move(cloud), QString::fromLatin1(type)));
    }

    LogCapture log;
    app.m_display.setVisibleData(DataList{sphere, box, others[0], others[1]});
    EXPECT_EQ(controller->pendingMeshes(), 0);
    app.m_data.add(std::move(phantom.ct));
    EXPECT_EQ(controller->pendingMeshes(), 2);  // the CT's arrival alone starts the waiting meshes
    app.m_display.setVisibleData(DataList{sphere, box, others[0], others[1]});
    EXPECT_EQ(controller->pendingMeshes(), 2);  // one request per closed structure, however often shown
    EXPECT_EQ(log.count("waits for its referenced volume", 1), 2);
    EXPECT_FALSE(log.contains("Cannot create a mesh"));
    app.m_data.remove(box);
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller->pendingMeshes() == 0; }, 60000));
    const Mesh* mesh = sphere->getComponent<Dicom::RTStructureRenderingDataComponent>()->mesh();
    ASSERT_NE(mesh, nullptr);
    EXPECT_TRUE(mesh->bounds()->contains(Eigen::Vector3d(-35, -35, 0)));
    EXPECT_EQ(log.count("PointCloud was deleted during mesh generation", 1), 1);
}

TEST(RTStructureToLabelMapController, ReferenceComesFromParentDatasetAndStaysWhenChoiceIsGone)
{
    App app;
    T::RtPhantom phantom = T::loadRtPhantom();
    SharedImageSet* ct = phantom.volume;
    app.m_data.add(std::move(phantom.ct));
    app.m_data.add(std::move(phantom.structureSet));
    PointCloud* sphere = structures(app).at(0);
    app.m_annotations.add(std::make_unique<PointCloudAnnotation>(sphere), ct);
    SharedImageSet* second =
        static_cast<SharedImageSet*>(app.m_data.add(T::imageSet(PixelType::UInt8, 4, 4, 4), "Second volume"));

    RTStructureToLabelMap algorithm({sphere});
    LogCapture log;
    RTStructureToLabelMapController controller(&algorithm);
    controller.setApplicationController(&app);
    controller.init();
    EXPECT_EQ(algorithm.referenceVolume(), ct);
    EXPECT_EQ(controller.referenceBox()->currentText(), ct->name());

    const QString name = second->name();
    app.m_data.remove(second);
    emit controller.referenceBox()->textActivated(name);
    EXPECT_EQ(algorithm.referenceVolume(), ct);
    EXPECT_TRUE(log.contains("The selected data '" + name.toStdString() + "' does not exist anymore", 4));

    App empty;
    RTStructureToLabelMap lonely({sphere});
    RTStructureToLabelMapController without(&lonely);
    without.setApplicationController(&empty);
    without.init();
    EXPECT_FALSE(without.referenceBox()->isEnabled());
}

TEST(RTStructureToLabelMapController, ReferenceIsTheStructureSetsOwnCtAndAnotherFrameIsNamedAndConfirmed)
{
    App app;
    const auto addVolume = [&app](const QString& name, const QString& series, const QString& frame) {
        auto set = T::imageSet(PixelType::Int16, 8, 8, 4, name);
        set->addComponent(std::make_unique<ImageInfoDataComponent>(series, frame));
        return static_cast<SharedImageSet*>(app.m_data.add(std::move(set)));
    };
    // Loaded before the structure set's CT: another patient's CT, then an MR registered to the CT.
    SharedImageSet* other = addVolume("Other patient CT", "1.2.3", "2.25.77");
    SharedImageSet* registered = addVolume("MR in the CT's frame", "1.2.4", "2.25.1");
    T::RtPhantom phantom = T::loadRtPhantom();
    SharedImageSet* ct = phantom.volume;
    app.m_data.add(std::move(phantom.ct));
    app.m_data.add(std::move(phantom.structureSet));
    PointCloud* sphere = structures(app).at(0);

    struct Panel
    {
        explicit Panel(PointCloud* structure) : algorithm({structure}), controller(&algorithm) {}
        RTStructureToLabelMap algorithm;
        RTStructureToLabelMapController controller;
    };
    const auto open = [&] {
        auto panel = std::make_unique<Panel>(sphere);
        panel->controller.setApplicationController(&app);
        panel->controller.init();
        return panel;
    };
    for (SharedImageSet* expected : {ct, registered}) {
        const auto panel = open();
        EXPECT_EQ(panel->algorithm.referenceVolume(), expected);
        EXPECT_EQ(panel->controller.referenceBox()->currentText().toStdString(), expected->name().toStdString());
        EXPECT_TRUE(panel->controller.referenceNote()->isHidden());
        app.m_data.remove(expected);
    }

    // Only the other frame is left: nothing is chosen, the panel says why, and taking it is asked.
    const auto panel = open();
    QComboBox* box = panel->controller.referenceBox();
    EXPECT_EQ(panel->algorithm.referenceVolume(), nullptr);
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_FALSE(panel->controller.referenceNote()->isHidden());
    EXPECT_TRUE(panel->controller.referenceNote()->text().startsWith("No loaded volume is in the frame of reference"));
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        T::MessageBoxes boxes(answer);
        box->setCurrentIndex(box->findText(other->name()));
        emit box->textActivated(other->name());
        ASSERT_EQ(boxes.seen.size(), 1);
        EXPECT_TRUE(boxes.seen[0].endsWith("Use 'Other patient CT' anyway?")) << boxes.seen[0].toStdString();
        EXPECT_EQ(panel->algorithm.referenceVolume(), answer == QMessageBox::Yes ? other : nullptr);
        EXPECT_EQ(box->currentText(), answer == QMessageBox::Yes ? other->name() : QString());
    }
    EXPECT_TRUE(panel->controller.referenceNote()->text().startsWith("'Other patient CT' is not known to be in"));
}

// A structure's mesh is made on the part of the grid around it; it is the same surface as on the
// whole grid, and structures without closed contours have none.
TEST(RTStructureMesher, MeshOnTheStructuresBoxIsTheWholeGridsMesh)
{
    T::RtPhantom phantom = T::loadRtPhantom();
    ASSERT_NE(phantom.volume, nullptr);
    const SharedImage& ct = *phantom.volume->selected();
    const auto grid = Dicom::RTStructureMesher::gridOf(ct);
    for (const PointCloud* structure : phantom.structures) {
        SCOPED_TRACE(structure->name().toStdString());
        const auto whole = RTStructureToLabelMap::labelMapToMesh(*RTStructureToLabelMap::rasterize({structure}, ct));
        const auto cropped = Dicom::RTStructureMesher::mesh(*structure, *grid);
        ASSERT_TRUE(whole && cropped);
        ASSERT_GT(whole->triangles().size(), 0u);
        EXPECT_EQ(cropped->vertices().size(), whole->vertices().size());
        // VTK works in single precision: equal within float rounding; a misplaced box is off by voxels.
        EXPECT_NEAR(cropped->area(), whole->area(), whole->area() * 1e-6);
        EXPECT_LT((cropped->bounds()->min() - whole->bounds()->min()).norm(), 1e-3);
        EXPECT_LT((cropped->bounds()->max() - whole->bounds()->max()).norm(), 1e-3);
    }
    PointCloud empty;
    empty.addComponent(std::make_unique<Dicom::RTStructureDataComponent>());
    EXPECT_EQ(Dicom::RTStructureMesher::mesh(empty, *grid), nullptr);
    EXPECT_EQ(Dicom::RTStructureMesher::pool().maxThreadCount(), QThread::idealThreadCount());
}

TEST(OverlayAnnotationDataController, OverlayPlanesBecomeAnAnnotationOthersNothing)
{
    // One CT slice with a 16 x 16 overlay plane whose upper left 4 x 4 bits are set.
    T::TempDir dir;
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(QDir(T::rtPhantomDir()).filePath("ct/0001.dcm").toStdString().c_str()).good());
    addOverlay(*file.getDataset());
    ASSERT_TRUE(file.saveFile(dir.file("overlay.dcm").toStdString().c_str(), EXS_LittleEndianExplicit).good());

    App app;
    OwningDataList withOverlay = T::readDicom(dir.file("overlay.dcm"));
    ASSERT_EQ(withOverlay.size(), 1u);
    EXPECT_TRUE(Dicom::OverlayAnnotationDataController::createCompatible(withOverlay.list(), nullptr));
    auto controller = initController(app, new Dicom::OverlayAnnotationDataController);
    app.m_data.add(T::readDicom(QDir(T::rtPhantomDir()).filePath("ct/0002.dcm")));
    EXPECT_EQ(app.m_annotations.size(), 0);
    Data* image = app.m_data.add(std::move(withOverlay)).front();
    ASSERT_EQ(app.m_annotations.size(), 1);
    EXPECT_EQ(app.m_annotations.getParentDataset(app.m_annotations.at(0)), image);
    const Annotation* annotation = app.m_annotations.at(0)->annotation();
    EXPECT_EQ(annotation->name.value(), "DICOM Overlay");
    const auto pictures = annotation->bitmaps();
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_GT(qAlpha(pictures[0].image.pixel(3, 3)), 0);
    EXPECT_EQ(qAlpha(pictures[0].image.pixel(4, 3)), 0);
    EXPECT_EQ(qAlpha(pictures[0].image.pixel(3, 4)), 0);
}

// The overlay of one slice of a CT volume becomes an annotation on that slice.
TEST(OverlayAnnotationDataController, OverlayOfAVolumesSliceLiesOnThatSlice)
{
    T::TempDir dir;
    const QDir ct(QDir(T::rtPhantomDir()).filePath("ct"));
    Float64 z = 0;
    for (const QString& name : ct.entryList({"*.dcm"})) {
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(ct.filePath(name).toStdString().c_str()).good());
        if (name == "0005.dcm") {
            addOverlay(*file.getDataset());
            ASSERT_TRUE(file.getDataset()->findAndGetFloat64(DCM_ImagePositionPatient, z, 2).good());
        }
        ASSERT_TRUE(file.saveFile(dir.file(name).toStdString().c_str(), EXS_LittleEndianExplicit).good());
    }
    App app;
    OwningDataList volume = T::readDicom(dir.path());
    ASSERT_EQ(volume.size(), 1u);
    ASSERT_EQ(volume.list()[0]->kind(), Data::KindVolume);
    DataController* created = nullptr;
    ASSERT_TRUE(Dicom::OverlayAnnotationDataController::createCompatible(volume.list(), &created));
    app.m_data.add(std::move(volume));
    auto controller = initController(app, static_cast<Dicom::OverlayAnnotationDataController*>(created));
    ASSERT_EQ(app.m_annotations.size(), 1);
    const auto pictures = app.m_annotations.at(0)->annotation()->bitmaps();
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_NEAR(pictures[0].pixelToWorld.translation().z(), z, 1e-6);
}

}  // namespace
