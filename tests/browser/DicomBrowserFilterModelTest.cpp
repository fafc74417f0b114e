#include "browser/models/DicomBrowserFilterModel.h"
#include "browser/models/DicomBrowserModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

using namespace Dravelin;
using namespace Dravelin::Dicom;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

struct SeriesFields
{
    QString number;
    QString description;
    QString modality = "CT";
    QString imageType = "ORIGINAL\\PRIMARY\\AXIAL";
    QDate date;
    QString width = "64";
    int images = 1;
};

int uidCounter = 0;

Series* addSeries(Study* study, const SeriesFields& fields)
{
    auto* s = new Series(study);
    s->seriesInstanceUid = QString("1.9.%1").arg(++uidCounter);
    s->seriesNumber = fields.number;
    s->seriesDescription = fields.description;
    s->modality = fields.modality;
    s->imageType = fields.imageType;
    s->seriesDate = fields.date;
    for (int i = 0; i < fields.images; ++i) {
        auto* image = new Image(s);
        image->sopInstanceUid = QString("%1.%2").arg(s->seriesInstanceUid).arg(i);
        image->imageType = fields.imageType;
        image->width = fields.width;
        image->height = "64";
        image->channels = "1";
        image->bitsAllocated = "16";
        image->location = Filesystem::Url::fromLocalFile(QString("/d/%1/%2.dcm").arg(s->seriesInstanceUid).arg(i));
        s->images.push_back(image);
    }
    study->series.push_back(s);
    return s;
}

Study* addStudy(Patient* patient, const QString& description, const QDate& date = QDate())
{
    auto* s = new Study(patient);
    s->studyInstanceUid = QString("1.8.%1").arg(++uidCounter);
    s->studyDescription = description;
    s->studyDate = date;
    patient->studies.push_back(s);
    return s;
}

Patient* newPatient(const QString& id, const QString& name)
{
    DcmDataset ds;
    ds.putAndInsertString(DCM_PatientID, id.toUtf8().constData());
    ds.putAndInsertString(DCM_PatientName, name.toUtf8().constData());
    return new Patient(ds, false);
}

// Display texts of the proxy's rows, depth-first, indented by level.
QStringList rows(const QAbstractItemModel& model, const QModelIndex& parent = {}, int depth = 0)
{
    QStringList out;
    for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex i = model.index(r, 0, parent);
        out << QString(depth, '-') + i.data().toString();
        out += rows(model, i, depth + 1);
    }
    return out;
}

class FilterModel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Doe: study "Head" (2024-01-10) with CT 10, CT 2 (localizer), MR 3 (derived);
        //      study "Knee" without date, with CT 1 dated 2023-05-05 and CT 4 undated.
        // Roe: study "Chest" (2024-02-01) with MR 5 (an image of unknown width) and a PACS placeholder
        //      study "Remote".
        Patient* doe = newPatient("1", "DOE^JOHN");
        Study* head = addStudy(doe, "Head", QDate(2024, 1, 10));
        addSeries(head, {"10", "Axial", "CT", "ORIGINAL\\PRIMARY\\AXIAL", {}, "64", 2});
        addSeries(head, {"2", "Scout", "CT", "ORIGINAL\\PRIMARY\\LOCALIZER", {}, "64", 1});
        addSeries(head, {"3", "Fusion", "MR", "DERIVED\\SECONDARY", {}, "64", 1});
        Study* knee = addStudy(doe, "Knee");
        addSeries(knee, {"1", "Sagittal", "CT", "ORIGINAL\\PRIMARY", QDate(2023, 5, 5), "64", 1});
        addSeries(knee, {"4", "Undated", "CT", "", {}, "64", 1});
        Patient* roe = newPatient("2", "ROE^JANE");
        Study* chest = addStudy(roe, "Chest", QDate(2024, 2, 1));
        addSeries(chest, {"5", "Lungs", "MR", "ORIGINAL\\PRIMARY", {}, "?", 1});
        Study* remote = addStudy(roe, "Remote");
        remote->pacsSeriesProxy = new PacsSeriesProxy(remote);
        model.addPatient(doe);
        model.addPatient(roe);
        filter.setSourceModel(&model);
        filter.setSortRole(DicomBrowserModel::SortRole);
        filter.setFilterCaseSensitivity(Qt::CaseInsensitive);
        filter.setImagesVisible(false);
        filter.invalidate();
        filter.sort(0);
    }

    DicomBrowserModel model{nullptr};
    DicomBrowserFilterModel filter;
    QAbstractItemModelTester tester{&filter, QAbstractItemModelTester::FailureReportingMode::Warning};
};

}  // namespace

TEST_F(FilterModel, NaturalSortAndImageRows)
{
    EXPECT_EQ(rows(filter), (QStringList{"ID: 1 - Name: DOE JOHN", "-: Knee", "--Series 1: Sagittal",
                                         "--Series 4: Undated", "-Wed Jan 10 2024: Head", "--Series 2: Scout",
                                         "--Series 3: Fusion", "--Series 10: Axial", "ID: 2 - Name: ROE JANE",
                                         "-: Remote", "--...", "-Thu Feb 1 2024: Chest", "--Series 5: Lungs"}));
    filter.setImagesVisible(true);
    filter.invalidate();
    EXPECT_EQ(rows(filter).size(), 13 + 7);
}

TEST_F(FilterModel, OriginalOnlyHidesDerivedLocalizerAndUntyped)
{
    filter.setOriginalOnly(true);
    EXPECT_EQ(rows(filter), (QStringList{"ID: 1 - Name: DOE JOHN", "-: Knee", "--Series 1: Sagittal",
                                         "-Wed Jan 10 2024: Head", "--Series 10: Axial", "ID: 2 - Name: ROE JANE",
                                         "-: Remote", "--...", "-Thu Feb 1 2024: Chest", "--Series 5: Lungs"}));
}

TEST_F(FilterModel, ModalitiesFilterSignalsOnlyOnChangeAndKeepsTextMatches)
{
    QSignalSpy spy(&filter, &DicomBrowserFilterModel::modalitiesFilterChanged);
    filter.setModalitiesFilter({"CT"});
    filter.setModalitiesFilter({"CT"});
    EXPECT_EQ(spy.size(), 1);
    QStringList shown = rows(filter);
    EXPECT_FALSE(shown.contains("--Series 3: Fusion"));
    EXPECT_FALSE(shown.contains("-Thu Feb 1 2024: Chest"));
    EXPECT_TRUE(shown.contains("-: Remote"));  // placeholder studies always show

    // A patient matching the text keeps its rows, but the MR series stays hidden.
    filter.setFilterFixedString("roe");
    shown = rows(filter);
    EXPECT_EQ(shown, (QStringList{"ID: 2 - Name: ROE JANE", "-: Remote", "--...", "-Thu Feb 1 2024: Chest"}));
    filter.setModalitiesFilter({});
    EXPECT_EQ(spy.size(), 2);
    EXPECT_TRUE(rows(filter).contains("--Series 5: Lungs"));
}

TEST_F(FilterModel, DateFilterUsesSeriesDateThenStudyDate)
{
    QSignalSpy spy(&filter, &DicomBrowserFilterModel::dateFilterChanged);
    filter.setDateFilter(std::make_tuple(QDate(2023, 1, 1), QDate(2023, 12, 31)));
    filter.setDateFilter(std::make_tuple(QDate(2023, 1, 1), QDate(2023, 12, 31)));
    EXPECT_EQ(spy.size(), 1);
    EXPECT_EQ(rows(filter), (QStringList{"ID: 1 - Name: DOE JOHN", "-: Knee", "--Series 1: Sagittal",
                                         "ID: 2 - Name: ROE JANE", "-: Remote", "--..."}));
    filter.setDateFilter(std::make_tuple(QDate(2024, 1, 10), QDate(2024, 1, 10)));
    EXPECT_EQ(rows(filter), (QStringList{"ID: 1 - Name: DOE JOHN", "-Wed Jan 10 2024: Head", "--Series 2: Scout",
                                         "--Series 3: Fusion", "--Series 10: Axial", "ID: 2 - Name: ROE JANE",
                                         "-: Remote", "--..."}));
    filter.setDateFilter(std::nullopt);
    filter.setDateFilter(std::nullopt);
    EXPECT_EQ(spy.size(), 3);
    EXPECT_EQ(rows(filter).size(), 13);
}

TEST_F(FilterModel, TextFilterRollsUpAndDown)
{
    filter.setFilterFixedString("KNEE");  // a study: its series show, the patient stays
    EXPECT_EQ(rows(filter), (QStringList{"ID: 1 - Name: DOE JOHN", "-: Knee", "--Series 1: Sagittal",
                                         "--Series 4: Undated", "ID: 2 - Name: ROE JANE", "-: Remote", "--..."}));
    filter.setFilterFixedString("scout");  // a series on its own description
    EXPECT_EQ(rows(filter), (QStringList{"ID: 1 - Name: DOE JOHN", "-Wed Jan 10 2024: Head", "--Series 2: Scout",
                                         "ID: 2 - Name: ROE JANE", "-: Remote", "--..."}));
    filter.setFilterFixedString("nothing at all");
    EXPECT_EQ(rows(filter), (QStringList{"ID: 2 - Name: ROE JANE", "-: Remote", "--..."}));
    EXPECT_TRUE(filter.hasNonEmptyFilter());
    filter.setFilterFixedString("");
    EXPECT_FALSE(filter.hasNonEmptyFilter());
}

TEST_F(FilterModel, InvalidImagesHideRowsAndTheirSeries)
{
    filter.setImagesVisible(true);
    filter.setFilterInvalidSeries(true);
    const QStringList shown = rows(filter);
    EXPECT_FALSE(shown.contains("--Series 5: Lungs"));
    EXPECT_TRUE(shown.contains("--Series 10: Axial"));
    EXPECT_EQ(shown.filter("file:").size(), 6);

    EXPECT_TRUE(DicomBrowserFilterModel::isInvalidImage(nullptr));
    Image image(nullptr);
    image.bitsAllocated = image.width = image.height = image.channels = "1";
    EXPECT_FALSE(DicomBrowserFilterModel::isInvalidImage(&image));
    image.channels = "";
    EXPECT_TRUE(DicomBrowserFilterModel::isInvalidImage(&image));
}

TEST_F(FilterModel, ChecksReachVisibleSeriesOnlyAndSelectionFollowsDisplayOrder)
{
    filter.setOriginalOnly(true);
    const QModelIndex doe = filter.index(0, 0);
    ASSERT_TRUE(filter.setData(doe, Qt::Checked, Qt::CheckStateRole));
    QStringList selected;
    for (const Series* s : filter.selectedSeries())
        selected << s->seriesNumber;
    EXPECT_EQ(selected, (QStringList{"1", "10"}));
    // The source model sees the hidden series unchecked.
    EXPECT_EQ(model.selectedSeries().size(), 2);
    EXPECT_EQ(doe.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));

    // Checked but hidden series are not selected.
    filter.setOriginalOnly(false);
    model.setData(model.index(model.patients()[0]->studies[0]->series[2]), Qt::Checked, Qt::CheckStateRole);
    selected.clear();
    for (const Series* s : filter.selectedSeries())
        selected << s->seriesNumber;
    EXPECT_EQ(selected, (QStringList{"1", "3", "10"}));
    filter.setModalitiesFilter({"CT"});
    selected.clear();
    for (const Series* s : filter.selectedSeries())
        selected << s->seriesNumber;
    EXPECT_EQ(selected, (QStringList{"1", "10"}));
}
