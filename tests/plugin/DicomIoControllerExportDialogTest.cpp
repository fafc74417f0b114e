#include "host/data/SharedImageSet.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "plugin/DicomIoControllerExportDialog.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/ModalAnswer.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QComboBox>
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace Dravelin;
namespace T = Dravelin::Test;

namespace {

std::unique_ptr<SharedImageSet> makeCt(int slices, double intercept = 0)
{
    auto image = std::make_unique<SharedImage>(PixelType::Int16, 16, 12, slices);
    for (int z = 0; z < slices; ++z)
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                image->setValue(x, y, z, 0, -1000 + x * 37 + y * 11 + z * 101);
    image->setSpacing(Eigen::Vector3d(0.75, 0.8, 2.5));
    image->setRescale(1.0, intercept);
    auto set = std::make_unique<SharedImageSet>(std::move(image));
    set->setModality(Data::ModalityCT);
    set->setName("ct");
    return set;
}

// A writer of `slices` slices with its dialog on page 2.
struct Page2
{
    explicit Page2(int slices, double intercept = 0) : input(makeCt(slices, intercept)), writer(DicomIoAlgorithm::Write)
    {
        writer.setInput(DataList{input.get()});
        dialog = std::make_unique<DicomIoControllerExportDialog>(writer, nullptr);
        dialog->gotoPage2();
    }
    template <typename W>
    W* child(const char* name) const
    {
        return dialog->findChild<W*>(name);
    }
    std::unique_ptr<SharedImageSet> input;
    DicomIoAlgorithm writer;
    std::unique_ptr<DicomIoControllerExportDialog> dialog;
};

void clickButtonOf(QWidget* box, QMessageBox::StandardButton button)
{
    static_cast<QMessageBox*>(box)->button(button)->click();
}

}  // namespace

TEST(DicomExportDialog, OneDatasetGoesToAFileSeveralToAFolder)
{
    for (const int slices : {1, 4}) {
        Page2 page(slices);
        const bool single = slices == 1;
        EXPECT_EQ(page.child<QTabWidget>("urlTabWidget")->tabText(0), single ? "File" : "Folder");
        bool asksForFolder = false, saves = false;
        T::ModalAnswer chooser(T::isVisibleOf<QFileDialog>, [&](QWidget* w) {
            const QFileDialog::FileMode mode = static_cast<QFileDialog*>(w)->fileMode();
            asksForFolder = mode != QFileDialog::AnyFile && mode != QFileDialog::ExistingFile;
            saves = static_cast<QFileDialog*>(w)->acceptMode() == QFileDialog::AcceptSave;
            static_cast<QDialog*>(w)->reject();
        });
        page.child<QAbstractButton>("pathButton")->click();
        ASSERT_TRUE(chooser.answered());
        EXPECT_EQ(asksForFolder, !single) << slices;
        EXPECT_EQ(saves, single) << slices;
    }
}

TEST(DicomExportDialog, CompressionChoicesAndQualityControls)
{
    Page2 page(1);
    auto* combo = page.child<QComboBox>("compressionComboBox");
    const int values[] = {0, 1, 2, 3, 4, 5, 7, 6, 8, 9};
    ASSERT_EQ(combo->count(), 10);
    for (int i = combo->count() - 1; i >= 0; --i) {
        combo->setCurrentIndex(i);
        EXPECT_EQ(static_cast<int>(page.writer.compression()), values[i]) << i;
        const bool lossy = values[i] == 4 || values[i] == 7 || values[i] == 8;
        EXPECT_EQ(page.child<QWidget>("qualityControl")->isEnabled(), lossy) << i;
        EXPECT_EQ(page.child<QLabel>("qualityLabel")->isEnabled(), lossy) << i;
    }
    page.child<QSlider>("qualitySlider")->setValue(42);
    EXPECT_EQ(page.writer.compressionQuality(), 42);
    EXPECT_EQ(page.child<QLabel>("qualitySliderLabel")->text(), "42%");
}

TEST(DicomExportDialog, OtherSexIsWrittenBackAsO)
{
    Page2 page(2);
    for (const auto& dataset : page.dialog->datasets())
        dataset->putAndInsertString(DCM_PatientSex, "X");
    auto* tabs = page.child<QTabWidget>("infoTabWidget");
    tabs->setCurrentIndex(1);
    tabs->setCurrentIndex(0);
    auto* sex = page.child<QComboBox>("patientSex");
    EXPECT_EQ(sex->currentText(), "other");
    sex->setCurrentIndex(0);
    EXPECT_EQ(T::text(*page.dialog->datasets()[1], DCM_PatientSex), "");
    sex->setCurrentIndex(3);
    for (const auto& dataset : page.dialog->datasets())
        EXPECT_EQ(T::text(*dataset, DCM_PatientSex), "O");
}

TEST(DicomExportDialog, BackAsksAndCancelKeepsTheEdits)
{
    Page2 page(2);
    auto* stack = page.child<QStackedWidget>("stackedWidget");
    page.child<QLineEdit>("patientName")->setText("Edited^Name");
    {
        T::ModalAnswer no(T::isVisibleOf<QMessageBox>, [](QWidget* w) { clickButtonOf(w, QMessageBox::Cancel); });
        page.child<QAbstractButton>("backButton")->click();
        ASSERT_TRUE(no.answered());
    }
    EXPECT_EQ(stack->currentWidget()->objectName(), "tagsPage");
    ASSERT_EQ(page.dialog->datasets().size(), 2u);
    EXPECT_EQ(T::text(*page.dialog->datasets()[1], DCM_PatientName), "Edited^Name");
    T::ModalAnswer discard(T::isVisibleOf<QMessageBox>, [](QWidget* w) { clickButtonOf(w, QMessageBox::Discard); });
    page.child<QAbstractButton>("backButton")->click();
    EXPECT_EQ(stack->currentWidget()->objectName(), "extensionsPage");
    EXPECT_TRUE(page.dialog->datasets().empty());
}

TEST(DicomExportDialog, AddFilesRefusesNonDicomFiles)
{
    T::TempDir dir;
    QFile::copy(T::pydicomData("test_files/CT_small.dcm"), dir.file("ct.dcm"));
    ASSERT_TRUE(T::writeFile(dir.file("notes.txt"), "not DICOM"));
    DicomIoAlgorithm writer(DicomIoAlgorithm::Write);
    DicomIoControllerExportDialog dialog(writer, nullptr);
    auto* list = dialog.findChild<QListView*>("referencedImagesListView");
    T::ModalAnswer chooser(T::isVisibleOf<QFileDialog>, [&](QWidget* w) {
        auto* files = static_cast<QFileDialog*>(w);
        files->setDirectory(dir.path());
        files->findChild<QLineEdit*>("fileNameEdit")->setText("\"ct.dcm\" \"notes.txt\"");
        static_cast<QDialog*>(files)->accept();
    });
    list->actions().front()->trigger();
    ASSERT_TRUE(chooser.answered());
    ASSERT_EQ(list->model()->rowCount(), 1);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), dir.file("ct.dcm"));
}

// The compression chosen on page 2 is the one written, whatever was current at Next: a signed
// CT as near-lossless JPEG-LS. A failed write keeps the dialog open and changes nothing, so the
// next try with another compression works.
TEST(DicomExportDialog, ExportWritesTheCompressionChosenAndCanBeRetriedAfterAFailure)
{
    Page2 page(1);
    T::TempDir dir;
    ASSERT_TRUE(T::writeFile(dir.file("blocker"), "a file, not a folder"));
    auto* combo = page.child<QComboBox>("compressionComboBox");
    auto* path = page.child<QLineEdit>("pathEdit");
    T::MessageBoxes boxes;
    combo->setCurrentIndex(4);  // JPEG (Lossy)
    path->setText(dir.file("blocker/ct.dcm"));
    page.child<QAbstractButton>("exportButton")->click();
    ASSERT_EQ(boxes.seen.size(), 1);
    EXPECT_TRUE(boxes.seen.front().startsWith("Failure|"));
    EXPECT_NE(page.dialog->result(), QDialog::Accepted);

    combo->setCurrentIndex(6);  // JPEG-LS (Lossy - Near-Lossless)
    path->setText(dir.file("ct.dcm"));
    page.child<QAbstractButton>("exportButton")->click();
    ASSERT_EQ(page.dialog->result(), QDialog::Accepted) << boxes.seen.join("; ").toStdString();
    OwningDataList output = T::readDicom(dir.file("ct.dcm"));
    ASSERT_EQ(output.getImages().size(), 1u);
    const SharedImage& in = *page.input->get();
    const SharedImage& back = *output.getImages().front()->get();
    ASSERT_EQ(back.dimensions(), in.dimensions());
    for (int y = 0; y < in.height(); ++y)
        for (int x = 0; x < in.width(); ++x)
            ASSERT_LE(std::abs(back.realValue(x, y) - in.realValue(x, y)), 1.0) << x << ", " << y;  // NEAR at 90
}

// Load Tags with override takes patient and study data from the file, but nothing that places
// or describes the pixels of each slice: the series reloads voxel- and geometry-equal.
TEST(DicomExportDialog, LoadTagsWithOverrideKeepsEverySliceAsItWas)
{
    Page2 page(20, -1024.0);
    {
        T::ModalAnswer chooser(T::isVisibleOf<QFileDialog>, [](QWidget* w) {
            auto* files = static_cast<QFileDialog*>(w);
            files->setDirectory(T::pydicomData("test_files"));
            files->findChild<QLineEdit*>("fileNameEdit")->setText("CT_small.dcm");
            static_cast<QDialog*>(files)->accept();
        });
        T::MessageBoxes yes(QMessageBox::Yes);
        page.child<QAbstractButton>("loadTagsButton")->click();
        ASSERT_TRUE(chooser.answered());
        ASSERT_EQ(yes.seen.size(), 1);
        EXPECT_TRUE(yes.seen.front().startsWith("Override tags?|"));
    }
    EXPECT_EQ(T::text(*page.dialog->datasets()[7], DCM_PatientName), "CompressedSamples^CT1");

    T::TempDir dir;
    page.child<QLineEdit>("pathEdit")->setText(dir.file("series"));
    page.child<QAbstractButton>("exportButton")->click();
    ASSERT_EQ(page.dialog->result(), QDialog::Accepted);
    OwningDataList output = T::readDicom(dir.file("series"));
    ASSERT_EQ(output.getImages().size(), 1u);
    ASSERT_EQ(output.getImages().front()->size(), 1);
    const SharedImage& in = *page.input->get();
    const SharedImage& back = *output.getImages().front()->get();
    ASSERT_EQ(back.dimensions(), in.dimensions());
    EXPECT_TRUE(back.voxelToWorld().matrix().isApprox(in.voxelToWorld().matrix(), 1e-6));
    double worst = 0;
    for (int z = 0; z < in.slices(); ++z)
        for (int y = 0; y < in.height(); ++y)
            for (int x = 0; x < in.width(); ++x)
                worst = std::max(worst, std::abs(back.realValue(x, y, z) - in.realValue(x, y, z)));
    EXPECT_EQ(worst, 0.0);
}

// Merging a tag file: missing elements are added, existing ones replaced only when asked,
// read-only tags never copied, sequences gain the items they lack.
using MergeTags = ::testing::TestWithParam<bool>;

TEST_P(MergeTags, MergesRecursively)
{
    const bool override = GetParam();
    DcmDataset source, target;
    source.putAndInsertString(DCM_PatientName, "From^File");
    source.putAndInsertString(DCM_InstitutionName, "Hospital");
    source.putAndInsertString(DCM_SOPInstanceUID, "1.2.3.4");
    for (int k = 0; k < 3; ++k) {
        DcmItem* item = nullptr;
        source.findOrCreateSequenceItem(DCM_ReferencedImageSequence, item, -2);
        item->putAndInsertString(DCM_ReferencedSOPInstanceUID, ("1.9." + std::to_string(k)).c_str());
    }
    target.putAndInsertString(DCM_PatientName, "In^Dataset");
    target.putAndInsertString(DCM_SOPInstanceUID, "5.6.7");
    DcmItem* first = nullptr;
    target.findOrCreateSequenceItem(DCM_ReferencedImageSequence, first, -2);
    first->putAndInsertString(DCM_ReferencedSOPClassUID, "1.2.840.10008.5.1.4.1.1.2");

    DicomIoControllerExportDialog::mergeItem(source, target, override);

    EXPECT_EQ(T::text(target, DCM_PatientName), override ? "From^File" : "In^Dataset");
    EXPECT_EQ(T::text(target, DCM_InstitutionName), "Hospital");
    EXPECT_EQ(T::text(target, DCM_SOPInstanceUID), "5.6.7");
    DcmSequenceOfItems* sequence = nullptr;
    ASSERT_TRUE(target.findAndGetSequence(DCM_ReferencedImageSequence, sequence).good());
    ASSERT_EQ(sequence->card(), 3u);
    EXPECT_EQ(T::text(*sequence->getItem(0), DCM_ReferencedSOPClassUID), "1.2.840.10008.5.1.4.1.1.2");
    for (unsigned long k = 0; k < 3; ++k)
        EXPECT_EQ(T::text(*sequence->getItem(k), DCM_ReferencedSOPInstanceUID), "1.9." + std::to_string(k));

    // The same sequence from a second file does not grow it again.
    DicomIoControllerExportDialog::mergeItem(source, target, override);
    EXPECT_EQ(sequence->card(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Override, MergeTags, ::testing::Bool());

// The whole C-STORE path of the writer, compressed: the dialog's server choice to the archive.
TEST(DicomExportDialog, PacsExportArrivesInOrthanc)
{
    T::PacsTestServer server(T::PacsTestServer::Kind::Orthanc);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    DicomPluginSettings settings;
    settings.pacsOwnAeTitle = QString::fromStdString(server.options().clientAeTitle);
    settings.setPacsServers({{"Test Orthanc", "127.0.0.1", server.port(), server.options().aeTitle, true}});

    Page2 page(3);
    page.child<QTabWidget>("urlTabWidget")->setCurrentIndex(1);
    ASSERT_EQ(page.child<QComboBox>("pacsServersComboBox")->currentText(), "Test Orthanc");
    page.child<QComboBox>("compressionComboBox")->setCurrentIndex(7);  // JPEG-LS lossless
    page.child<QAbstractButton>("exportButton")->click();
    ASSERT_EQ(page.dialog->result(), QDialog::Accepted);

    const std::string series = T::text(*page.dialog->datasets()[0], DCM_SeriesInstanceUID);
    DicomPacsConfiguration config = settings.connectionConfiguration(settings.pacsServers().front());
    DcmDataset query;
    query.putAndInsertString(DCM_QueryRetrieveLevel, "IMAGE");
    query.putAndInsertString(DCM_StudyInstanceUID, T::text(*page.dialog->datasets()[0], DCM_StudyInstanceUID).c_str());
    query.putAndInsertString(DCM_SeriesInstanceUID, series.c_str());
    query.insertEmptyElement(DCM_SOPInstanceUID);
    int found = 0;
    DicomPacsCommunication(config).sendFindRequest(DicomPacsCommunication::StudyRoot, query,
                                                   [&](std::unique_ptr<DcmDataset>) { ++found; });
    EXPECT_EQ(found, 3);
    settings.setPacsServers({});
}

// Page 2 reads right: its labels are spelt out and the fields of its three forms start at one x.
TEST(DicomExportDialog, Page2LabelsAreSpeltRightAndItsFieldsAligned)
{
    Page2 page(1);
    page.dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(page.dialog.get()));
    EXPECT_EQ(page.child<QLabel>("studyGroupLabel2")->text(), "Description:");
    EXPECT_EQ(page.child<QComboBox>("compressionComboBox")->itemText(7),
              "JPEG-LS (Lossiness - DICOM Default for lossless JPEG)");
    std::set<int> starts;
    for (const char* name : {"patientID", "patientName", "patientBirthDate", "studyID", "studyDescription",
                             "seriesNumber", "seriesDescription"})
        starts.insert(page.child<QWidget>(name)->mapTo(page.dialog.get(), QPoint(0, 0)).x());
    EXPECT_EQ(starts.size(), 1u);
}
