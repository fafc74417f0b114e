#include "browser/models/DicomBrowserModel.h"
#include "editor/DicomEditor.h"
#include "editor/ConfidentialityProfile.h"
#include "editor/DicomEditorAlgorithm.h"
#include "editor/DicomEditorConversion.h"
#include "editor/OverrideConfidentialityDialog.h"
#include "host/core/LogCapture.h"
#include "tests/support/CliRun.h"
#include "tests/support/ModalAnswer.h"
#include "tests/support/PhiDataset.h"
#include "tests/support/TestEnvironment.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTest>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTabWidget>
#include <QTableWidget>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <gtest/gtest.h>

using namespace Dravelin;
namespace T = Dravelin::Test;

namespace {

class Editor : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        QSettings().clear();
        for (int i = 0; i < 3; ++i) {
            T::PhiDatasetOptions o;
            o.sopInstanceUid += std::to_string(i);
            ASSERT_TRUE(T::writePhiFile(in.file(QString("sub/%1.dcm").arg(i)), o));
        }
        editor = std::make_unique<DicomEditor>(&algorithm);
    }
    // Scans `folder` (or a DICOMDIR file), checks everything, converts from `input` into `output`.
    bool anonymize(const QString& folder, const QString& output, QString input = QString())
    {
        if (folder.endsWith("DICOMDIR"))
            editor->browserModel()->scanDicomDirBlocking(folder);
        else
            editor->browserModel()->scanDirectoryBlocking(folder, true, false, true);
        editor->selectAll();
        editor->setCurrentPath(input.isEmpty() ? folder : input);
        editor->findChild<QLineEdit*>("outputDirectoryEdit")->setText(output);
        editor->accept();
        return editor->result() == QDialog::Accepted;
    }
    QTableWidget* showProfileTable()
    {
        editor->confidentialityDialog()->show();
        return editor->confidentialityDialog()->findChild<QTableWidget*>();
    }
    T::TempDir settings, in, out;
    DicomEditorAlgorithm algorithm;
    std::unique_ptr<DicomEditor> editor;
};

TEST_F(Editor, ShowsTheInputFolderAndDicomWebTabsOnly)
{
    auto* tabs = editor->findChild<QTabWidget*>("tabWidget");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "Input Directory");
    EXPECT_EQ(tabs->widget(1)->objectName(), "tab");  // DICOMweb
    auto* dicomdir = editor->findChild<QCheckBox*>("useDicomdirCheckBox");
    EXPECT_TRUE(dicomdir->isHidden() && !dicomdir->isChecked());
}

TEST_F(Editor, OutputFolderQuestionsGuardTheFiles)
{
    QDir(out.path()).mkpath("empty");
    QFile(out.file("full.txt")).open(QIODevice::WriteOnly);
    struct Case
    {
        QString output;
        QMessageBox::StandardButton answer;
        QString question;  // empty: none asked
        bool written;
    };
    const QString sameFolder =
        "You specified the same folder for input and output. Are you sure you want to "
        "replace all files in the input folder?";
    const QString notEmpty = "The output folder is not empty. Are you sure you want to overwrite existing files?";
    const std::vector<Case> cases{
        {in.path(), QMessageBox::No, sameFolder, false}, {out.path(), QMessageBox::No, notEmpty, false},
        {out.file("empty"), QMessageBox::No, "", true},  {out.file("missing/deeper"), QMessageBox::No, "", true},
        {in.path(), QMessageBox::Yes, sameFolder, true},
    };
    for (const Case& c : cases) {
        editor = std::make_unique<DicomEditor>(&algorithm);
        T::MessageBoxes answers(c.answer);
        EXPECT_EQ(anonymize(in.path(), c.output), c.written) << c.output.toStdString();
        EXPECT_EQ(answers.seen,
                  c.question.isEmpty() ? QStringList() : QStringList{"Overwrite existing files|" + c.question});
        EXPECT_EQ(T::filesUnder(c.output).contains("sub/0.dcm"), c.written || c.output == in.path());
        DcmFileFormat file;  // the input changes only when the user agreed to write into it
        ASSERT_TRUE(file.loadFile(in.file("sub/0.dcm").toUtf8().constData()).good());
        EXPECT_EQ(T::survivingMarkers(*file.getDataset()).empty(), c.written && c.output == in.path());
    }
}

TEST_F(Editor, FilesOutsideTheInputFolderAreSkippedWithTheMessage)
{
    const QString dicomdir = T::pydicomData("test_files/dicomdirtests/DICOMDIR");
    T::MessageBoxes answers;
    EXPECT_FALSE(anonymize(dicomdir, out.path(), T::pydicomData("test_files/dicomdirtests/98892003")));
    EXPECT_EQ(answers.seen, QStringList{"Error|Not all files could be saved. See log for details"});
    // Every file below the input folder, and the journal of the run, unfinished.
    EXPECT_EQ(T::filesUnder(out.path()).size(), 18);
    EXPECT_FALSE(QFileInfo::exists(out.file("../77654033")));
}

// Burned-in text the run does not remove: the files are listed before anything is written, then
// written without the claim that the identity is removed, or left out. Files the cleaning covers
// are not asked about.
TEST_F(Editor, BurnedInFilesAreListedBeforeConverting)
{
    T::PhiDatasetOptions burned;
    burned.sopInstanceUid += "1";
    burned.burnedInAnnotation = true;
    ASSERT_TRUE(T::writePhiFile(in.file("sub/1.dcm"), burned));
    ASSERT_TRUE(T::writeFile(out.file("us.json"), R"({"rules": [{"Modality": "US", "regions": [
        {"x": 0, "y": 0, "width": 2, "height": 2}]}]})"));
    ASSERT_TRUE(T::writeFile(out.file("ct.json"), R"({"rules": [{"Modality": "CT", "Rows": 4, "Columns": 4,
        "regions": [{"x": 0, "y": 0, "width": 2, "height": 2}]}]})"));
    struct Case
    {
        const char* name;
        const char* regionFile;  // nullptr: cleaning off
        const char* choice;      // nullptr: not asked
        const char* removed;     // the file's Patient Identity Removed
    };
    const std::vector<Case> cases{
        {"off, written", nullptr, "Write them", "NO"},
        {"off, left out", nullptr, "Leave them out", nullptr},
        {"a rule for another device", "us.json", "Write them", "NO"},
        {"a rule for its device", "ct.json", nullptr, "YES"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        editor = std::make_unique<DicomEditor>(&algorithm);
        if (c.regionFile) {
            editor->findChild<QComboBox*>("cleanPixelsComboBox")->setCurrentIndex(2);  // region file
            editor->findChild<QLineEdit*>("regionFileEdit")->setText(out.file(c.regionFile));
        }
        QString listed;
        T::ModalAnswer answer([](QWidget* w) { return w->objectName() == "burnedInQuestion" && w->isVisible(); },
                              [&](QWidget* w) {
                                  auto* box = static_cast<QMessageBox*>(w);
                                  listed = box->detailedText();
                                  for (QAbstractButton* button : box->buttons())
                                      if (c.choice && button->text() == c.choice)
                                          button->click();
                              });
        const QString output = out.file(c.name);
        EXPECT_TRUE(anonymize(in.path(), output));
        EXPECT_EQ(listed, c.choice ? in.file("sub/1.dcm") : QString());
        EXPECT_EQ(T::filesUnder(output).size(), c.removed ? 3 : 2);
        DcmFileFormat file;
        if (c.removed && file.loadFile(QFile::encodeName(output + "/sub/1.dcm").constData()).good())
            EXPECT_EQ(T::text(*file.getDataset(), DCM_PatientIdentityRemoved), c.removed);
        else
            EXPECT_FALSE(c.removed);
    }
}

// "Clean burned-in text": the box the user draws in the preview is blacked out in every image of
// the series, which then claims the Clean Pixel Data Option.
TEST_F(Editor, TheBoxesSetInThePreviewAreBlackedOutInTheSeries)
{
    T::PhiDatasetOptions burned;
    burned.sopInstanceUid += "9";
    burned.burnedInAnnotation = true;
    ASSERT_TRUE(T::writePhiFile(in.file("sub/9.dcm"), burned));
    editor->browserModel()->scanDirectoryBlocking(in.path(), true, false, true);
    editor->selectAll();
    editor->findChild<QComboBox*>("cleanPixelsComboBox")->setCurrentIndex(1);  // find text (OCR)
    bool drawn = false;
    QString shown;
    T::ModalAnswer answer([](QWidget* w) { return w->objectName() == "burnedInPreview" && w->isVisible(); },
                          [&](QWidget* w) {
                              auto* status = w->findChild<QLabel*>("burnedInStatus");
                              QElapsedTimer waited;
                              waited.start();
                              while (status->text().startsWith("Looking") && waited.elapsed() < 30000)
                                  QApplication::processEvents(QEventLoop::AllEvents, 20);
                              auto* canvas = w->findChild<QWidget*>("burnedInCanvas");
                              // The 4x4 image fills the canvas' height, centred: its top-left pixels.
                              const int side = std::min(canvas->width(), canvas->height());
                              const QPoint origin((canvas->width() - side) / 2, (canvas->height() - side) / 2);
                              QTest::mousePress(canvas, Qt::LeftButton, {}, origin + QPoint(2, 2));
                              QTest::mouseMove(canvas, origin + QPoint(side / 2 + 2, side / 2 + 2));
                              QTest::mouseRelease(canvas, Qt::LeftButton, {},
                                                  origin + QPoint(side / 2 + 2, side / 2 + 2));
                              drawn = status->text().startsWith("1 box");
                              shown = status->text();
                              static_cast<QDialog*>(w)->accept();
                          });
    editor->findChild<QPushButton*>("cleanPixelsPreviewButton")->click();
    ASSERT_TRUE(drawn) << shown.toStdString();
    ASSERT_TRUE(anonymize(in.path(), out.path()));
    for (const QString& name : T::filesUnder(out.path())) {
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(QFile::encodeName(out.file(name)).constData()).good()) << name.toStdString();
        DcmDataset& d = *file.getDataset();
        EXPECT_EQ(T::text(d, DCM_BurnedInAnnotation), "NO") << name.toStdString();
        EXPECT_EQ(T::text(d, DCM_PatientIdentityRemoved), "YES") << name.toStdString();
        const Uint16* pixels = nullptr;
        ASSERT_TRUE(d.findAndGetUint16Array(DCM_PixelData, pixels).good());
        const Uint16 darkest = *std::min_element(pixels, pixels + 16);
        for (int i = 0; i < 16; ++i) {
            if (i % 4 <= 2 && i / 4 <= 2) {
                EXPECT_EQ(pixels[i], darkest) << name.toStdString() << " pixel " << i;
            }
        }
        EXPECT_NE(pixels[15], darkest) << name.toStdString();
    }
}

TEST_F(Editor, AnUnfinishedRunIsResumedOrLeftAlone)
{
    {
        DicomEditorConversion stopped(in.path(), out.path(), editor->actionTable(), false);
        stopped.setProfileName("Basic Profile");
        ASSERT_EQ(stopped.start(false), "");
    }
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        T::MessageBoxes answers(answer);
        EXPECT_EQ(anonymize(in.path(), out.path()), answer == QMessageBox::Yes);
        ASSERT_EQ(answers.seen.size(), 1);
        EXPECT_TRUE(answers.seen[0].startsWith("Unfinished de-identification|")) << answers.seen[0].toStdString();
        EXPECT_EQ(DicomEditorConversion::hasUnfinishedRun(out.path()), answer == QMessageBox::No);
        EXPECT_EQ(T::filesUnder(out.path()).contains("sub/0.dcm"), answer == QMessageBox::Yes);
    }
}

// Accepting the table makes it "Custom Profile"; an edit of the preset survives a restart.
TEST_F(Editor, AnAcceptedEditOfAPresetIsACustomProfileThatSurvivesARestart)
{
    auto* table = showProfileTable();
    ASSERT_GT(table->rowCount(), 0);
    auto* firstAction = qobject_cast<QComboBox*>(table->cellWidget(0, 1));
    ASSERT_TRUE(firstAction);
    firstAction->setCurrentText("K");
    Dicom::DeidentificationActionTable edited = Dicom::tagDeidentificationActionBasicProfile();
    edited.begin()->second = "K";
    ASSERT_NE(edited, Dicom::tagDeidentificationActionBasicProfile());
    editor->confidentialityDialog()->findChild<QPushButton*>("acceptButton")->click();
    auto* label = editor->findChild<QLabel*>("profileLabel");
    EXPECT_EQ(label->text(), "Custom Profile");
    EXPECT_TRUE(label->styleSheet().contains("orange"));
    EXPECT_EQ(QSettings().value("dicom/confidentialitySettingsDialog/profileName").toString(), "Custom Profile");
    EXPECT_EQ(editor->actionTable(), edited);

    LogCapture log;
    editor.reset();
    DicomEditorAlgorithm restarted;
    DicomEditor again(&restarted);
    EXPECT_EQ(again.findChild<QLabel*>("profileLabel")->text(), "Custom Profile");
    EXPECT_EQ(again.actionTable(), edited);
    EXPECT_FALSE(log.contains("Invalid profile selection", 4));
}

TEST_F(Editor, ExportWithoutANameListsTheFileUnderItsPath)
{
    showProfileTable();
    const QString file = out.file("profile.xml");
    T::ModalAnswer noName(T::isVisibleOf<QInputDialog>, [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    T::ModalAnswer chooser(T::isVisibleOf<QFileDialog>, [&](QWidget* w) {
        static_cast<QFileDialog*>(w)->selectFile(file);
        static_cast<QDialog*>(w)->accept();
    });
    editor->confidentialityDialog()->exportSettings();
    auto* profiles = editor->confidentialityDialog()->findChild<QComboBox*>("profileComboBox");
    EXPECT_EQ(profiles->currentText(), file);
    EXPECT_EQ(profiles->currentData(Qt::ToolTipRole).toString(), file);
    OverrideConfidentialityDialog reloaded("", file);
    EXPECT_EQ(reloaded.currentName(), "");
    EXPECT_EQ(reloaded.actionTable(), Dicom::tagDeidentificationActionBasicProfile());
}

TEST_F(Editor, FilterShowsExactlyTheRowsWhoseNamesContainIt)
{
    QTableWidget* table = showProfileTable();
    editor->confidentialityDialog()->findChild<QLineEdit*>("filterLineEdit")->setText("pAtIeNt");
    int shown = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString name = qobject_cast<QLabel*>(table->cellWidget(row, 0))->text();
        EXPECT_EQ(table->isRowHidden(row), !name.contains("patient", Qt::CaseInsensitive)) << name.toStdString();
        shown += !table->isRowHidden(row);
    }
    EXPECT_GT(shown, 10);
    EXPECT_LT(shown, table->rowCount() / 2);
}

// The command and the editor write the same bytes for the same input, profile and private-tag
// choice, apart from the values generated per run: UIDs ("2.25." + random) and dummy Patient
// IDs ("ANON" + 12 random characters), replaced here by their order of appearance in the file.
class EditorMatchesCommand : public Editor, public ::testing::WithParamInterface<std::tuple<const char*, bool>>
{
};

QByteArray normalized(const QString& path, const QString& scratch)
{
    static const QRegularExpression generated("^(2\\.25\\.\\d+|ANON[0-9A-Z]{12})$");
    DcmFileFormat file;
    if (file.loadFile(path.toUtf8().constData()).bad())
        return "unreadable " + path.toUtf8();
    QStringList seen;
    DcmStack stack;
    while (file.nextObject(stack, OFTrue).good()) {
        auto* element = dynamic_cast<DcmElement*>(stack.top());
        OFString value;
        if (element && element->getOFStringArray(value).good() && generated.match(value.c_str()).hasMatch()) {
            if (!seen.contains(value.c_str()))
                seen << value.c_str();
            element->putString(QString("9.%1").arg(seen.indexOf(value.c_str())).toLatin1().constData());
        }
    }
    return file.saveFile(scratch.toUtf8().constData(), EXS_Unknown).good() ? T::readFile(scratch) : "unwritable";
}

TEST_P(EditorMatchesCommand, FileForFile)
{
    const auto [profile, keepPrivate] = GetParam();
    // A custom profile keeps one more attribute than Basic; accepting it in the dialog renames it.
    const QString custom = settings.file("mine.xml");
    auto table = Dicom::tagDeidentificationActionBasicProfile();
    table[Dicom::TagProxy(0x0010, 0x0030)] = "K";
    ASSERT_TRUE(ConfidentialityProfile::writeFile(custom, "Mine", table));
    const QString name = profile;
    QStringList args{"deidentify", in.path(), out.file("command"), "--profile", name == "custom" ? custom : name};
    if (keepPrivate)
        args << "--keep-private";
    ASSERT_EQ(T::runCli(args).exitCode, 0);
    if (name != "basic") {
        showProfileTable();
        if (name == "relaxed")
            editor->confidentialityDialog()
                ->findChild<QComboBox*>("profileComboBox")
                ->setCurrentText("Relaxed Profile");
        else if (editor->confidentialityDialog()->loadSettings(QString(), custom))  // as Import does
            editor->confidentialityDialog()->applySettingsToTable();
        editor->confidentialityDialog()->acceptProfile();
    }
    editor->findChild<QCheckBox*>("keepPrivateTagsCheckBox")->setChecked(keepPrivate);
    ASSERT_TRUE(anonymize(in.path(), out.file("editor")));
    const QStringList files = T::filesUnder(out.file("command"));
    ASSERT_EQ(files, T::filesUnder(out.file("editor")));
    for (const QString& f : files) {
        EXPECT_EQ(normalized(out.file("command/" + f), out.file("a")),
                  normalized(out.file("editor/" + f), out.file("b")))
            << f.toStdString();
        DcmFileFormat written;
        written.loadFile(out.file("editor/" + f).toUtf8().constData());
        EXPECT_EQ(written.getDataset()->tagExists(DcmTagKey(0x0009, 0x0010)), keepPrivate);
        if (name == "custom") {
            EXPECT_EQ(T::text(*written.getDataset(), DCM_DeidentificationMethod), "Mine");
        }
    }
}

// Each choice once in each state.
INSTANTIATE_TEST_SUITE_P(ProfilesAndPrivateTags, EditorMatchesCommand,
                         ::testing::Values(std::make_tuple("basic", false), std::make_tuple("relaxed", true),
                                           std::make_tuple("custom", false)));

}  // namespace
