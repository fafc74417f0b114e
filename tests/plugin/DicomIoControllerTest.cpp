#include "browser/models/DicomBrowserModel.h"
#include "browser/widgets/DicomBrowser.h"
#include "host/dicom/Error.h"
#include "host/dicom/io/DicomIOAlgorithmBrowser.h"
#include "host/dicom/io/DicomIOAlgorithmFolder.h"
#include "plugin/DicomIoController.h"
#include "tests/support/TestApplication.h"
#include "tests/support/ModalAnswer.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextEdit>

#include <gtest/gtest.h>

using namespace Dravelin;
namespace T = Dravelin::Test;

namespace {

QString testFile(const QString& name)
{
    return T::pydicomData("test_files/" + name);
}

bool copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& info : QDir(from).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + "/" + info.fileName();
        if (info.isDir() ? !copyTree(info.filePath(), target) : !QFile::copy(info.filePath(), target))
            return false;
    }
    return true;
}

// Runs one controller over `algorithm` in the test application.
struct ControllerRun
{
    explicit ControllerRun(DicomIoAlgorithm* algorithm) : controller(algorithm)
    {
        controller.setApplicationController(&app);
    }
    T::TestApplication app;
    DicomIoController controller;
};

bool isBrowser(QWidget* w)
{
    return T::isVisibleOf<DicomBrowser>(w);
}

}  // namespace

TEST(DicomIoController, OneSeriesFolderLoadsWithoutTheBrowser)
{
    T::TempDir dir;
    ASSERT_TRUE(QFile::copy(testFile("CT_small.dcm"), dir.file("a.dcm")));
    DicomIOAlgorithmFolder algorithm;
    algorithm.setLocation(dir.path());
    ControllerRun run(&algorithm);
    T::ModalAnswer browser(isBrowser, [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    run.controller.run();
    EXPECT_FALSE(browser.answered());
    EXPECT_EQ(run.app.m_data.getAll().size(), 1u);
    EXPECT_EQ(run.app.closes, std::vector<bool>{false});
}

// A file named DICOMDIR in any letter case is read as a DICOMDIR; a folder of that name is
// scanned as a folder. Several patients open the browser; cancelling it leaves status 8.
using DicomDirNames = ::testing::TestWithParam<std::pair<const char*, bool>>;

TEST_P(DicomDirNames, ChooseTheScanAndCancelLeavesStatus8)
{
    const auto [name, isFile] = GetParam();
    T::TempDir dir;
    QString path;
    if (isFile) {
        ASSERT_TRUE(copyTree(T::pydicomData("test_files/dicomdirtests"), dir.path()));
        path = dir.file(name);
        ASSERT_TRUE(QFile::rename(dir.file("DICOMDIR"), path + ".tmp") && QFile::rename(path + ".tmp", path));
    } else {
        path = dir.file(name);
        QDir().mkpath(path);
        ASSERT_TRUE(QFile::copy(testFile("CT_small.dcm"), path + "/ct.dcm"));
        ASSERT_TRUE(QFile::copy(testFile("MR_small.dcm"), path + "/mr.dcm"));
    }
    DicomIOAlgorithmFolder algorithm;
    algorithm.setLocation(path);
    ControllerRun run(&algorithm);
    int tab = -1, patients = 0;
    T::ModalAnswer answer(isBrowser, [&](QWidget* w) {
        auto* browser = static_cast<DicomBrowser*>(w);
        tab = browser->findChild<QTabWidget*>("tabWidget")->currentIndex();
        patients = browser->browserModel()->rowCount();
        browser->reject();
    });
    run.controller.run();
    ASSERT_TRUE(answer.answered());
    EXPECT_EQ(tab, isFile ? DicomBrowser::DicomDirTab : DicomBrowser::DirectoryTab);
    EXPECT_GT(patients, 1);
    EXPECT_EQ(algorithm.status(), 8);
    EXPECT_EQ(run.app.closes, std::vector<bool>{false});
}

INSTANTIATE_TEST_SUITE_P(Names, DicomDirNames,
                         ::testing::Values(std::make_pair("DICOMDIR", true), std::make_pair("dicomdir", true),
                                           std::make_pair("DicomDir", true), std::make_pair("DICOMDIR", false)),
                         [](const auto& info) {
                             return std::string(info.param.second ? "File" : "Folder") + info.param.first;
                         });

TEST(DicomIoController, FatalErrorDialogListsOnlyFatalErrors)
{
    DicomIoAlgorithm algorithm;
    algorithm.setLocation((testFile("MR_truncated.dcm") + "##" + testFile("CT_small.dcm")));
    ControllerRun run(&algorithm);
    QString shown;
    QSize box;
    int scrolls = -1;
    T::ModalAnswer dialog([](QWidget* w) { return w->isVisible() && w->windowTitle() == "DICOM IO"; },
                          [&](QWidget* w) {
                              auto* edit = w->findChild<QTextEdit*>();
                              shown = edit->toPlainText();
                              w->findChild<QGroupBox*>()->setChecked(true);  // Details expanded
                              QApplication::processEvents();
                              box = edit->viewport()->size();
                              scrolls = edit->verticalScrollBar()->maximum() + edit->horizontalScrollBar()->maximum();
                              T::saveShot(w, "fatal-error-dialog.png");
                              static_cast<QDialog*>(w)->accept();
                          });
    run.controller.run();
    ASSERT_TRUE(dialog.answered());
    QString fatal;
    for (const Dicom::Error& e : algorithm.caughtErrors())
        if (e.type == Dicom::Error::Fatal)
            fatal += QString::fromStdString(e.message) + "\n";
    EXPECT_TRUE(shown.contains("MR_truncated.dcm"));
    EXPECT_EQ(shown, fatal);
    EXPECT_EQ(run.app.m_data.getAll().size(), 1u);
    // Readable: a box of some size that shows the whole text without scrolling.
    EXPECT_GE(box.width(), 300);
    EXPECT_EQ(scrolls, 0);

    // Without fatal errors there is no dialog.
    DicomIoAlgorithm good;
    good.setLocation(testFile("CT_small.dcm"));
    ControllerRun second(&good);
    T::ModalAnswer none([](QWidget* w) { return w->isVisible() && w->windowTitle() == "DICOM IO"; },
                        [](QWidget* w) { static_cast<QDialog*>(w)->accept(); });
    second.controller.run();
    EXPECT_FALSE(none.answered());
}

TEST(DicomIoController, ControllersShareOneBrowser)
{
    std::vector<QWidget*> shown;
    T::TestApplication app;
    for (int k = 0; k < 2; ++k) {
        DicomIOAlgorithmBrowser algorithm;
        DicomIoController controller(&algorithm);
        controller.setApplicationController(&app);
        T::ModalAnswer answer(isBrowser, [&](QWidget* w) {
            shown.push_back(w);
            static_cast<QDialog*>(w)->reject();
        });
        controller.run();
    }
    EXPECT_EQ(app.closes, (std::vector<bool>{false, false}));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(shown[0], DicomIoController::sharedBrowser());
}

TEST(DicomIoController, FileFilter)
{
    EXPECT_EQ(DicomIoController::fileFilter("DICOM", {}), "All files (*)");
    EXPECT_EQ(DicomIoController::fileFilter("DICOM", {"dcm", "ima"}), "DICOM (*.dcm *.ima);;All files (*)");
    // The DICOM readers' extensions: their own sample files have none and must show.
    EXPECT_EQ(DicomIoController::fileFilter("DICOM", DicomIoAlgorithm().extensions()),
              "DICOM (*.dcm *.ima *);;All files (*)");
}
