#include "browser/widgets/TagInsertDialog.h"
#include "browser/widgets/TagsWidget.h"
#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"
#include "tests/support/ModalAnswer.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QHeaderView>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <functional>

using namespace Dravelin;
using Dicom::TagsWidget;

namespace {

const QString kIndent(8, ' ');

// Patient data, a 998-byte text (DCMTK pads odd texts to even lengths) and a 1000-byte value, and a sequence of three
// items where only the second item mentions "NEEDLE".
std::shared_ptr<DcmDataset> makeDataset(const char* patientName = "DOE^JANE")
{
    auto ds = std::make_shared<DcmDataset>();
    ds->putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    ds->putAndInsertString(DCM_SOPInstanceUID, "1.2.826.0.1.3680043.9.7002.1");
    ds->putAndInsertString(DCM_PatientName, patientName);
    ds->putAndInsertString(DCM_PatientID, "P-17");
    ds->putAndInsertString(DCM_ImageComments, std::string(998, 'c').c_str());
    ds->putAndInsertString(DCM_MIMETypeOfEncapsulatedDocument, "application/octet-stream");
    std::vector<Uint8> document(1000);
    for (size_t i = 0; i < document.size(); ++i)
        document[i] = static_cast<Uint8>(i * 7);
    ds->putAndInsertUint8Array(DCM_EncapsulatedDocument, document.data(), 1000);
    for (int i = 0; i < 3; ++i) {
        DcmItem* item = nullptr;
        ds->findOrCreateSequenceItem(DCM_ReferencedImageSequence, item, -2);
        item->putAndInsertString(DCM_ReferencedSOPInstanceUID, ("1.2.3.100." + std::to_string(i)).c_str());
        item->putAndInsertString(DCM_TextValue, std::string(400, 'q').c_str());
        if (i == 1)
            item->putAndInsertString(DCM_DerivationDescription, "Contains a NEEDLE");
    }
    return ds;
}

int rowOf(TagsWidget& w, const QString& tag, int from = 0)
{
    for (int r = from; r < w.model()->rowCount(); ++r)
        if (w.model()->index(r, 1).data().toString().startsWith(tag))
            return r;
    return -1;
}

QString cell(TagsWidget& w, int row, int column)
{
    return w.model()->index(row, column).data().toString();
}

QTableView* view(TagsWidget& w)
{
    return w.findChild<QTableView*>("tagsView");
}

std::vector<int> visibleRows(TagsWidget& w)
{
    std::vector<int> rows;
    for (int r = 0; r < w.model()->rowCount(); ++r)
        if (!view(w)->isRowHidden(r))
            rows.push_back(r);
    return rows;
}

using Answer = std::unique_ptr<Dravelin::Test::ModalAnswer>;

Answer fillInsertDialog(const QString& group, const QString& element, const QString& value,
                        std::function<void(Dicom::TagInsertDialog*)> more = {})
{
    return std::make_unique<Dravelin::Test::ModalAnswer>(
        Dravelin::Test::isVisibleOf<Dicom::TagInsertDialog>, [=](QWidget* w) {
            auto* d = static_cast<Dicom::TagInsertDialog*>(w);
            auto* groupEdit = d->findChild<QLineEdit*>("groupEdit");
            auto* elementEdit = d->findChild<QLineEdit*>("elementEdit");
            groupEdit->clear();
            elementEdit->clear();
            QTest::keyClicks(groupEdit, group);
            QTest::keyClicks(elementEdit, element);
            d->findChild<QLineEdit*>("valueEdit")->setText(value);
            if (more)
                more(d);
            d->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        });
}

QString datasetString(DcmItem& item, const DcmTagKey& key)
{
    OFString value;
    item.findAndGetOFStringArray(key, value);
    return QString::fromUtf8(value.c_str());
}

QMenu* openContextMenu(TagsWidget& w, int row)
{
    const QRect rect = view(w)->visualRect(w.model()->index(row, 2));
    w.onTagsContextMenu(rect.center());
    return w.findChildren<QMenu*>().value(w.findChildren<QMenu*>().size() - 1);
}

QStringList actionTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            texts << a->text();
    return texts;
}

QAction* action(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

}  // namespace

TEST(TagsWidget, RowsShowValuesSummariesAndIndentation)
{
    Dicom::DatasetCache cache;
    TagsWidget file(
        cache.loadFromFile(Dravelin::Test::pydicomData("test_files/CT_small.dcm").toStdString(), nullptr, true));
    EXPECT_EQ(cell(file, 0, 1), "(0002,0010)");
    EXPECT_EQ(cell(file, 0, 2), "Transfer Syntax UID");
    EXPECT_EQ(cell(file, 0, 3), "Little Endian Explicit (1.2.840.10008.1.2.1)");

    TagsWidget w(makeDataset());
    const int sop = rowOf(w, "(0008,0016)");
    EXPECT_EQ(cell(w, sop, 1), "(0008,0016) UI");
    EXPECT_EQ(cell(w, sop, 3), QString("CTImageStorage (%1)").arg(UID_CTImageStorage));
    EXPECT_EQ(cell(w, rowOf(w, "(0020,4000)"), 3), QString(998, 'c'));
    EXPECT_EQ(cell(w, rowOf(w, "(0042,0011)"), 3), "[Large value (1000 Bytes)]");

    const int sequence = rowOf(w, "(0008,1140)");
    EXPECT_EQ(cell(w, sequence, 3), "[Sequence (3 Items)]");
    EXPECT_EQ(cell(w, sequence, 2), "ReferencedImageSequence");
    const int nested = rowOf(w, "(0008,1155)");
    EXPECT_EQ(nested, sequence + 1);
    EXPECT_EQ(cell(w, nested, 2), kIndent + "ReferencedSOPInstanceUID");
    EXPECT_EQ(cell(w, nested, 3), "1.2.3.100.0");
    // Three items of two or three elements each, after the sequence row.
    EXPECT_EQ(rowOf(w, "(0010,0010)"), sequence + 8);
}

TEST(TagsWidget, EveryValueTakesOneLineAndTheTooltipHoldsItWhole)
{
    auto ds = makeDataset();
    const QString history = "First line of the history\nsecond line\r\nthird";
    ds->putAndInsertString(DCM_AdditionalPatientHistory, history.toUtf8().constData());
    TagsWidget w(ds);
    view(w)->horizontalHeader()->setStretchLastSection(false);
    view(w)->setColumnWidth(3, 80);  // far narrower than the UID
    // QAbstractItemView makes the table's own row size hint public.
    QAbstractItemView* rows = view(w);
    const int oneLine = rows->sizeHintForRow(rowOf(w, "(0010,0020)"));
    for (const char* tag : {"(0008,0018)", "(0010,21b0)"}) {
        const int row = rowOf(w, tag);
        EXPECT_EQ(rows->sizeHintForRow(row), oneLine) << tag;
        EXPECT_EQ(w.model()->index(row, 3).data(Qt::ToolTipRole).toString(), cell(w, row, 3)) << tag;
    }
    EXPECT_EQ(cell(w, rowOf(w, "(0010,21b0)"), 3), history);
}

TEST(TagsWidget, FilterKeepsAncestorsAndCollapseHidesMatches)
{
    TagsWidget w(makeDataset());
    w.resize(800, 600);
    const int sequence = rowOf(w, "(0008,1140)");
    const int match = rowOf(w, "(0008,2111)");
    ASSERT_GT(match, sequence);

    w.findChild<QLineEdit*>("filterTagsEdit")->setText("needle");
    EXPECT_EQ(visibleRows(w), (std::vector<int>{sequence, match}));

    auto* toggle = qobject_cast<QToolButton*>(view(w)->indexWidget(w.model()->index(sequence, 0)));
    ASSERT_NE(toggle, nullptr);
    EXPECT_TRUE(toggle->isChecked());
    toggle->click();
    EXPECT_EQ(visibleRows(w), (std::vector<int>{sequence}));
    toggle->click();
    EXPECT_EQ(visibleRows(w), (std::vector<int>{sequence, match}));

    w.findChild<QLineEdit*>("filterTagsEdit")->setText("DOE^");
    EXPECT_EQ(visibleRows(w), (std::vector<int>{rowOf(w, "(0010,0010)")}));

    w.findChild<QLineEdit*>("filterTagsEdit")->clear();
    w.setAllCollapsed(true);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_TRUE(view(w)->isRowHidden(sequence + 1));
    EXPECT_FALSE(view(w)->isRowHidden(sequence));
    w.setAllCollapsed(false);
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_EQ(visibleRows(w).size(), static_cast<size_t>(w.model()->rowCount()));
}

TEST(TagsWidget, FrameControlsFollowTheNumberOfDatasets)
{
    TagsWidget w(makeDataset());
    auto* spin = w.findChild<QSpinBox*>("frameSpinBox");
    EXPECT_TRUE(spin->isHidden());
    EXPECT_TRUE(w.findChild<QWidget*>("frameLabel")->isHidden());

    w.setDatasets({makeDataset("FIRST"), makeDataset("SECOND"), makeDataset("THIRD")});
    EXPECT_FALSE(spin->isHidden());
    EXPECT_EQ(spin->maximum(), 2);
    EXPECT_EQ(cell(w, rowOf(w, "(0010,0010)"), 3), "FIRST");
    spin->setValue(1);
    EXPECT_EQ(cell(w, rowOf(w, "(0010,0010)"), 3), "SECOND");
    w.setCurrentFrame(7);
    EXPECT_EQ(w.currentFrame(), 2);
    EXPECT_EQ(spin->value(), 2);
    EXPECT_EQ(cell(w, rowOf(w, "(0010,0010)"), 3), "THIRD");
}

TEST(TagsWidget, EditingWritesIntoTheDatasetExceptReadOnlyTags)
{
    auto ds = makeDataset();
    TagsWidget w(ds);
    const auto valueItem = [&](const QString& tag) { return w.model()->item(rowOf(w, tag), 3); };
    EXPECT_FALSE(valueItem("(0010,0010)")->isEditable());

    w.setEditable(true);
    EXPECT_NE(view(w)->editTriggers() & QAbstractItemView::DoubleClicked, 0);

    EXPECT_TRUE(valueItem("(0010,0010)")->isEditable());
    EXPECT_TRUE(valueItem("(0008,1155)")->isEditable());
    EXPECT_FALSE(valueItem("(0008,0018)")->isEditable());
    EXPECT_FALSE(valueItem("(0042,0011)")->isEditable());  // a summary, not the value
    EXPECT_FALSE(valueItem("(0008,1140)")->isEditable());
    const int sop = rowOf(w, "(0008,0018)");
    for (int c = 1; c <= 3; ++c)
        EXPECT_EQ(w.model()->item(sop, c)->foreground().color(), QColor(70, 70, 70));
    EXPECT_NE(w.model()->item(rowOf(w, "(0010,0010)"), 2)->foreground().color(), QColor(70, 70, 70));

    valueItem("(0010,0010)")->setText("ROE^RICHARD");
    EXPECT_EQ(datasetString(*ds, DCM_PatientName), "ROE^RICHARD");
    valueItem("(0008,1155)")->setText("7.7.7");
    DcmItem* first = nullptr;
    ASSERT_TRUE(ds->findAndGetSequenceItem(DCM_ReferencedImageSequence, first, 0).good());
    EXPECT_EQ(datasetString(*first, DCM_ReferencedSOPInstanceUID), "7.7.7");

    w.setEditable(false);
    EXPECT_FALSE(valueItem("(0010,0010)")->isEditable());
    EXPECT_EQ(cell(w, rowOf(w, "(0010,0010)"), 3), "ROE^RICHARD");
}

TEST(TagsWidget, InsertAsksBeforeOverridingAndFillsSequences)
{
    auto ds = makeDataset();
    TagsWidget w(ds);
    w.setEditable(true);

    Answer fill = fillInsertDialog("0010", "0010", "NEW^NAME", [](Dicom::TagInsertDialog* d) {
        EXPECT_EQ(d->findChild<QComboBox*>("tagNameComboBox")->currentText(), "PatientName");
        EXPECT_TRUE(d->findChild<QSpinBox*>("sequenceIndexSpinBox")->isHidden());
    });
    auto boxes = std::make_unique<Dravelin::Test::MessageBoxes>(QMessageBox::No);
    w.insertElement(QModelIndex());
    EXPECT_EQ(datasetString(*ds, DCM_PatientName), "DOE^JANE");

    fill = fillInsertDialog("0010", "0010", "NEW^NAME");
    boxes = std::make_unique<Dravelin::Test::MessageBoxes>(QMessageBox::Yes);
    w.insertElement(QModelIndex());
    EXPECT_EQ(datasetString(*ds, DCM_PatientName), "NEW^NAME");
    EXPECT_EQ(cell(w, rowOf(w, "(0010,0010)"), 3), "NEW^NAME");

    // A key that is not in the dictionary selects "Unknown"; a new tag needs no question.
    fill = fillInsertDialog("0010", "0030", "19700101", [](Dicom::TagInsertDialog* d) {
        auto* names = d->findChild<QComboBox*>("tagNameComboBox");
        EXPECT_EQ(names->currentText(), "PatientBirthDate");
        auto* element = d->findChild<QLineEdit*>("elementEdit");
        QTest::keyClick(element, Qt::Key_Backspace);
        EXPECT_EQ(names->currentText(), "Unknown");
        QTest::keyClicks(element, "0");
    });
    w.insertElement(QModelIndex());
    EXPECT_EQ(datasetString(*ds, DCM_PatientBirthDate), "19700101");
    EXPECT_EQ(boxes->seen.size(), 1);

    const int sequence = rowOf(w, "(0008,1140)");
    fill = fillInsertDialog("0008", "1150", "1.2.840.10008.5.1.4.1.1.2", [](Dicom::TagInsertDialog* d) {
        auto* index = d->findChild<QSpinBox*>("sequenceIndexSpinBox");
        EXPECT_FALSE(index->isHidden());
        EXPECT_EQ(index->maximum(), 3);
        EXPECT_EQ(index->minimum(), -1);
        index->setValue(-1);
        EXPECT_EQ(index->text(), "New Item");
    });
    w.insertElement(w.model()->index(sequence, 2));
    DcmSequenceOfItems* items = nullptr;
    ASSERT_TRUE(ds->findAndGetSequence(DCM_ReferencedImageSequence, items).good());
    ASSERT_EQ(items->card(), 4u);
    EXPECT_EQ(datasetString(*items->getItem(3), DCM_ReferencedSOPClassUID), "1.2.840.10008.5.1.4.1.1.2");
    EXPECT_EQ(cell(w, sequence, 3), "[Sequence (4 Items)]");
}

TEST(TagsWidget, RemoveDeletesTheElementAndReloads)
{
    LogCapture capture;
    auto ds = makeDataset();
    TagsWidget w(ds);
    const int rows = w.model()->rowCount();
    w.removeElement(w.model()->index(rowOf(w, "(0010,0020)"), 3));
    EXPECT_FALSE(ds->tagExists(DCM_PatientID));
    EXPECT_EQ(rowOf(w, "(0010,0020)"), -1);
    EXPECT_EQ(w.model()->rowCount(), rows - 1);

    // Removing an element inside a sequence item leaves the other items alone.
    w.removeElement(w.model()->index(rowOf(w, "(0008,2111)"), 1));
    EXPECT_EQ(rowOf(w, "(0008,2111)"), -1);
    EXPECT_NE(rowOf(w, "(0008,1155)", rowOf(w, "(0008,1155)") + 1), -1);

    w.removeElement(w.model()->index(0, 3));  // the transfer syntax row has no element
    EXPECT_TRUE(capture.contains("Could not find DcmElement", 4));
    EXPECT_EQ(w.model()->rowCount(), rows - 2);
}

TEST(TagsWidget, ContextMenuOffersWhatTheRowAllows)
{
    TagsWidget w(makeDataset());
    w.resize(900, 700);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    QMenu* menu = openContextMenu(w, rowOf(w, "(0010,0010)"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(actionTexts(menu), (QStringList{"Expand all", "Collapse all", "Copy", "Export All..."}));
    action(menu, "Copy")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "PatientName");
    menu->close();

    w.setEditable(true);
    const int document = rowOf(w, "(0042,0011)");
    menu = openContextMenu(w, document);
    EXPECT_EQ(actionTexts(menu), (QStringList{"Expand all", "Collapse all", "Copy", "Open RAW buffer",
                                              "Save to file...", "Insert element", "Remove element", "Export All..."}));
    QSignalSpy saved(&w, &TagsWidget::savedRawBuffer);
    action(menu, "Open RAW buffer")->trigger();
    ASSERT_EQ(saved.count(), 1);
    const QString path = saved.at(0).at(0).toString();
    const QByteArray bytes = Dravelin::Test::readFile(path);
    QFile::remove(path);
    ASSERT_EQ(bytes.size(), 1000);
    EXPECT_EQ(static_cast<unsigned char>(bytes[3]), 21);
    menu->close();

    LogCapture capture;
    menu = openContextMenu(w, rowOf(w, "(0020,4000)"));
    action(menu, "Open RAW buffer")->trigger();
    EXPECT_TRUE(capture.contains("Failed to retrieve buffer (VR: LT)", 4));
    EXPECT_EQ(saved.count(), 1);
    menu->close();
}

TEST(TagsWidget, RawBuffersOfNumericValues)
{
    DcmDataset ds;
    const Uint16 rows[] = {1, 2, 0xABCD};
    ds.putAndInsertUint16Array(DCM_OverlayData, rows, 3);
    ds.putAndInsertFloat64(DCM_PixelSpacing, 0.5);
    ds.putAndInsertString(DCM_PatientName, "TEXT");
    DcmElement* element = nullptr;
    ASSERT_TRUE(ds.findAndGetElement(DCM_OverlayData, element).good());
    const auto words = TagsWidget::getRawBuffer(element);
    ASSERT_TRUE(words.has_value());
    ASSERT_EQ(words->size(), 6);
    EXPECT_EQ(*reinterpret_cast<const Uint16*>(words->constData() + 4), 0xABCD);
    ASSERT_TRUE(ds.findAndGetElement(DCM_PatientName, element).good());
    EXPECT_FALSE(TagsWidget::getRawBuffer(element).has_value());
    EXPECT_FALSE(TagsWidget::getRawBuffer(nullptr).has_value());
}

TEST(TagsWidget, ExportsThatDcmtkReadsBack)
{
    Dravelin::Test::TempDir dir;
    TagsWidget w(makeDataset());
    const auto readBack = [&](const QString& tool, const QString& exported) {
        const QString out = exported + ".dcm";
        QProcess process;
        process.start(tool, {exported, out});
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        auto file = std::make_unique<DcmFileFormat>();
        EXPECT_TRUE(file->loadFile(out.toLocal8Bit().constData()).good());
        return file;
    };

    ASSERT_TRUE(w.exportTags(dir.file("tags.xml")));
    ASSERT_TRUE(w.exportTags(dir.file("tags.txt")));
    for (const auto& [tool, file] :
         {std::pair{QString("xml2dcm"), dir.file("tags.xml")}, std::pair{QString("dump2dcm"), dir.file("tags.txt")}}) {
        SCOPED_TRACE(tool.toStdString());
        auto back = readBack(tool, file);
        DcmDataset& ds = *back->getDataset();
        EXPECT_EQ(datasetString(ds, DCM_PatientName), "DOE^JANE");
        DcmSequenceOfItems* items = nullptr;
        ASSERT_TRUE(ds.findAndGetSequence(DCM_ReferencedImageSequence, items).good());
        EXPECT_EQ(items->card(), 3u);
        const Uint8* document = nullptr;
        unsigned long length = 0;
        ASSERT_TRUE(ds.findAndGetUint8Array(DCM_EncapsulatedDocument, document, &length).good());
        ASSERT_EQ(length, 1000u);
        EXPECT_EQ(document[999], static_cast<Uint8>(999 * 7));
    }

    // Through the menu: the chooser appends the filter's suffix and remembers the folder.
    Dravelin::Test::ModalAnswer chooser(Dravelin::Test::isVisibleOf<QFileDialog>, [&](QWidget* w) {
        static_cast<QFileDialog*>(w)->selectNameFilter("XML file (*.xml)");
        static_cast<QFileDialog*>(w)->selectFile(dir.file("chosen"));
        static_cast<QDialog*>(w)->accept();
    });
    w.show();
    QMenu* menu = openContextMenu(w, 1);
    action(menu, "Export All...")->trigger();
    EXPECT_TRUE(QFile::exists(dir.file("chosen.xml")));
    EXPECT_EQ(QSettings().value("lastDir/exportDicomTags").toString(), dir.path());
    readBack("xml2dcm", dir.file("chosen.xml"));
}
