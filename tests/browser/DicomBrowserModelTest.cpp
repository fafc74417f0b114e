#include "browser/models/DicomBrowserModel.h"
#include "scanning/DimensionsText.h"
#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"
#include "tests/support/TestEnvironment.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <algorithm>
#include <memory>
#include <random>
#include <utility>
#include <vector>

using namespace Dravelin;
using namespace Dravelin::Dicom;

namespace {

struct InstanceFields
{
    QString patientId = "P1";
    QString patientName = "DOE^JANE";
    QString studyUid = "1.2.3.1";
    QString studyDescription = "Head";
    QString seriesUid = "1.2.3.1.1";
    QString seriesNumber = "1";
    QString seriesDescription = "Axial";
    int instance = 1;
    double z = 0;
};

std::shared_ptr<DcmDataset> makeDataset(const InstanceFields& s)
{
    auto ds = std::make_shared<DcmDataset>();
    ds->putAndInsertString(DCM_PatientID, s.patientId.toUtf8());
    ds->putAndInsertString(DCM_PatientName, s.patientName.toUtf8());
    ds->putAndInsertString(DCM_StudyInstanceUID, s.studyUid.toUtf8());
    ds->putAndInsertString(DCM_StudyDescription, s.studyDescription.toUtf8());
    ds->putAndInsertString(DCM_StudyDate, "20240131");
    ds->putAndInsertString(DCM_SeriesInstanceUID, s.seriesUid.toUtf8());
    ds->putAndInsertString(DCM_SeriesNumber, s.seriesNumber.toUtf8());
    ds->putAndInsertString(DCM_SeriesDescription, s.seriesDescription.toUtf8());
    ds->putAndInsertString(DCM_Modality, "CT");
    ds->putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    ds->putAndInsertString(DCM_SOPInstanceUID, (s.seriesUid + "." + QString::number(s.instance)).toUtf8());
    ds->putAndInsertString(DCM_InstanceNumber, QByteArray::number(s.instance));
    ds->putAndInsertString(DCM_ImagePositionPatient, ("0\\0\\" + QByteArray::number(s.z)));
    ds->putAndInsertString(DCM_ImageOrientationPatient, "1\\0\\0\\0\\1\\0");
    ds->putAndInsertString(DCM_PixelSpacing, "0.5\\0.5");
    ds->putAndInsertString(DCM_Rows, "64");
    ds->putAndInsertString(DCM_Columns, "64");
    return ds;
}

Patient* makePatient(const InstanceFields& s)
{
    auto ds = makeDataset(s);
    auto* p = new Patient(*ds, true);
    p->studies[0]->series[0]->images[0]->location =
        Filesystem::Url::fromLocalFile(QString("/data/%1/img%2.dcm").arg(s.seriesUid).arg(s.instance));
    return p;
}

QStringList labels(const QModelIndex& index)
{
    QStringList l;
    for (const auto& p : index.data(DicomBrowserModel::PropertiesRole).value<DicomBrowserModel::ParameterList>())
        l << p.first;
    return l;
}

QString property(const QModelIndex& index, const QString& label)
{
    for (const auto& p : index.data(DicomBrowserModel::PropertiesRole).value<DicomBrowserModel::ParameterList>())
        if (p.first == label)
            return p.second;
    return "<missing>";
}

class DicomBrowserModelTest : public ::testing::Test
{
protected:
    // One image each of the default series, with these instance numbers.
    void addInstances(std::initializer_list<int> numbers)
    {
        for (int i : numbers) {
            InstanceFields s;
            s.instance = i;
            model.addPatient(makePatient(s));
        }
    }
    QStringList instanceOrder(const QModelIndex& series) const
    {
        QStringList order;
        for (int r = 0; r < model.rowCount(series); ++r)
            order << DicomBrowserModel::toImage(model.index(r, 0, series))->instanceNumberText;
        return order;
    }
    DicomBrowserModel model{nullptr};
};

}  // namespace

TEST_F(DicomBrowserModelTest, StaysConsistentWhileShuffledInstancesMerge)
{
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    std::vector<InstanceFields> fieldSets;
    for (int p = 0; p < 3; ++p)
        for (int st = 0; st < 2; ++st)
            for (int se = 0; se < 2; ++se)
                for (int i = 1; i <= 5; ++i) {
                    InstanceFields s;
                    s.patientId = QString("P%1").arg(p);
                    s.studyUid = QString("1.2.%1.%2").arg(p).arg(st);
                    s.seriesUid = QString("1.2.%1.%2.%3").arg(p).arg(st).arg(se);
                    s.seriesNumber = QString::number(se + 1);
                    s.instance = i;
                    s.z = 2.0 * i;
                    fieldSets.push_back(s);
                }
    std::mt19937 rng(7);
    std::shuffle(fieldSets.begin(), fieldSets.end(), rng);
    for (const auto& s : fieldSets)
        model.addPatient(makePatient(s));

    ASSERT_EQ(model.rowCount(), 3);
    for (int p = 0; p < 3; ++p) {
        const QModelIndex patient = model.index(p, 0);
        ASSERT_EQ(model.rowCount(patient), 2);
        for (int st = 0; st < 2; ++st) {
            const QModelIndex study = model.index(st, 0, patient);
            ASSERT_EQ(model.rowCount(study), 2);
            for (int se = 0; se < 2; ++se) {
                Series* series = DicomBrowserModel::toSeries(model.index(se, 0, study));
                ASSERT_NE(series, nullptr);
                ASSERT_EQ(series->images.size(), 5u);
                for (int i = 0; i < 5; ++i)
                    EXPECT_EQ(series->images[i]->instanceNumber.value_or(-1), i + 1);
                EXPECT_EQ(Dicom::dimensionsText(series->estimatedDimensions), "3D (0.5mm x 0.5mm x 2mm)");
            }
        }
    }
}

// The constructor from datasets builds the preview tests' models; here only its refusal.
TEST_F(DicomBrowserModelTest, DatasetConstructorRefusesListsOfDifferentLengths)
{
    auto cache = std::make_shared<DatasetCache>(0);
    const std::string path = Dravelin::Test::pydicomData("test_files/CT_small.dcm").toStdString();
    const auto dataset = cache->loadFromFile(path, nullptr, false);
    LogCapture log;
    DicomBrowserModel mismatch({dataset, dataset}, {path}, cache);
    EXPECT_EQ(mismatch.rowCount(), 0);
    EXPECT_TRUE(log.contains("datasets and datasetPaths must have the same length!", 4));
}

TEST_F(DicomBrowserModelTest, DisplayTextsOfEveryLevel)
{
    InstanceFields s;
    s.patientId = "123";
    s.patientName = "ALPHA^BETA";
    model.addPatient(makePatient(s));
    InstanceFields empty{"", "", "9.9", "", "9.9.9", "", ""};
    model.addPatient(makePatient(empty));
    InstanceFields onlyDescription = empty;
    onlyDescription.seriesUid = "9.9.8";
    onlyDescription.seriesDescription = "Scout";
    model.addPatient(makePatient(onlyDescription));

    const QModelIndex p0 = model.index(0, 0);
    EXPECT_EQ(p0.data().toString(), "ID: 123 - Name: ALPHA BETA");
    const QModelIndex st0 = model.index(0, 0, p0);
    EXPECT_EQ(st0.data().toString(), QDate(2024, 1, 31).toString(Qt::TextDate) + ": Head");
    EXPECT_EQ(model.index(0, 0, st0).data().toString(), "Series 1: Axial");
    const QModelIndex image = model.index(0, 0, model.index(0, 0, st0));
    EXPECT_EQ(image.data().toUrl(), QUrl::fromLocalFile("/data/1.2.3.1.1/img1.dcm"));

    const QModelIndex p1 = model.index(1, 0);
    EXPECT_EQ(p1.data().toString(), "ID: <Empty> - Name: <Empty>");
    const QModelIndex st1 = model.index(0, 0, p1);
    EXPECT_EQ(st1.data().toString(), QDate(2024, 1, 31).toString(Qt::TextDate));
    EXPECT_EQ(model.index(0, 0, st1).data().toString(), "<Empty Series ID>");
    EXPECT_EQ(model.index(1, 0, st1).data().toString(), "Series: Scout");

    // A placeholder is the row after the series.
    Study* study = DicomBrowserModel::toStudy(st1);
    study->pacsSeriesProxy = new PacsSeriesProxy(study);
    ASSERT_EQ(model.rowCount(st1), 3);
    const QModelIndex placeholder = model.index(2, 0, st1);
    EXPECT_EQ(DicomBrowserModel::toPacsSeriesPlaceholder(placeholder), study->pacsSeriesProxy);
    EXPECT_FALSE(placeholder.data(Qt::CheckStateRole).isValid());
    EXPECT_FALSE(placeholder.flags() & Qt::ItemIsUserCheckable);

    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.remove(study->pacsSeriesProxy);
    EXPECT_EQ(study->pacsSeriesProxy, nullptr);
    EXPECT_EQ(model.rowCount(st1), 2);
}

TEST_F(DicomBrowserModelTest, PropertyListsAndDimensionTexts)
{
    InstanceFields s;
    s.patientName = "DOE^^JOHN^";
    model.addPatient(makePatient(s));
    const QModelIndex patient = model.index(0, 0);
    const QModelIndex study = model.index(0, 0, patient);
    const QModelIndex series = model.index(0, 0, study);
    const QModelIndex image = model.index(0, 0, series);

    EXPECT_EQ(labels(patient), QStringList({"Id", "Name", "Sex", "Birth Date", "Comment"}));
    EXPECT_EQ(property(patient, "Name"), "DOE JOHN");
    EXPECT_EQ(labels(study), QStringList({"Instance UID", "Id", "Time", "Date", "Description"}));
    EXPECT_EQ(labels(series), QStringList({"Instance UID", "SOP Class UID", "Time", "Date", "Number", "Description",
                                           "Modality", "Number of Files", "Estimated Dimensions"}));
    EXPECT_EQ(property(series, "SOP Class UID"), QString("CTImageStorage (%1)").arg(UID_CTImageStorage));
    EXPECT_EQ(property(series, "Estimated Dimensions"), "2D (0.5mm x 0.5mm x 1mm)");
    EXPECT_EQ(labels(image), QStringList({"SOP Instance UID", "Instance Number", "Image Type", "width", "height",
                                          "channels", "bitsAllocated", "numberOfFrames", "sliceThickness"}));
    EXPECT_EQ(property(image, "width"), "64");
    EXPECT_EQ(property(image, "channels"), "?");

    // Exact dimensions replace the estimate, one line per image set.
    Series* record = DicomBrowserModel::toSeries(series);
    record->sopClassUid = "1.2.3.4.5";
    record->dimensions = {DimensionsInfo{3, 0, 0, 0, {}, true}, DimensionsInfo{2}};
    EXPECT_EQ(property(series, "SOP Class UID"), "Unknown (1.2.3.4.5)");
    EXPECT_EQ(property(series, "Dimensions"), "2D+t (Unknown Spacing)\n3D (No Spacing)");
    EXPECT_EQ(property(series, "Estimated Dimensions"), "<missing>");
}

TEST_F(DicomBrowserModelTest, CheckStatesCascadeAndRollUp)
{
    for (int st = 0; st < 2; ++st)
        for (int se = 0; se < 2; ++se) {
            InstanceFields s;
            s.studyUid = QString("1.%1").arg(st);
            s.seriesUid = QString("1.%1.%2").arg(st).arg(se);
            model.addPatient(makePatient(s));
        }
    const QModelIndex patient = model.index(0, 0);
    const QModelIndex study0 = model.index(0, 0, patient);

    ASSERT_TRUE(model.setData(patient, Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(model.selectedSeries().size(), 4);
    EXPECT_EQ(patient.data(Qt::CheckStateRole).toInt(), Qt::Checked);

    ASSERT_TRUE(model.setData(model.index(1, 0, study0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(study0.data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    EXPECT_EQ(patient.data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    EXPECT_EQ(model.index(1, 0, patient).data(Qt::CheckStateRole).toInt(), Qt::Checked);

    // PartiallyChecked is a roll-up, never a command.
    ASSERT_TRUE(model.setData(study0, Qt::PartiallyChecked, Qt::CheckStateRole));
    EXPECT_EQ(model.selectedSeries().size(), 3);

    ASSERT_TRUE(model.setData(patient, Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_TRUE(model.selectedSeries().isEmpty());

    const QModelIndex image = model.index(0, 0, model.index(0, 0, study0));
    EXPECT_FALSE(model.setData(image, Qt::Checked, Qt::CheckStateRole));
    EXPECT_FALSE(model.setData(patient, "x", Qt::DisplayRole));
    EXPECT_FALSE(image.flags() & Qt::ItemIsUserCheckable);
    EXPECT_TRUE(patient.flags() & Qt::ItemIsUserCheckable);

    Study emptyStudy(nullptr);
    EXPECT_EQ(DicomBrowserModel::isChecked(&emptyStudy), Qt::Unchecked);
}

TEST_F(DicomBrowserModelTest, MergingAddsImagesInInstanceOrderAndKeepsPatientsApart)
{
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    addInstances({12, 7, 30});
    const QModelIndex series = model.index(0, 0, model.index(0, 0, model.index(0, 0)));
    EXPECT_EQ(property(series, "Number of Files"), "3");

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    addInstances({9});
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);  // between 7 and 12
    EXPECT_EQ(property(series, "Number of Files"), "4");
    EXPECT_EQ(instanceOrder(series), QStringList({"7", "9", "12", "30"}));

    InstanceFields other;
    other.patientName = "DOE^JOHN";
    model.addPatient(makePatient(other));
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.index(1, 0).data(DicomBrowserModel::SortRole).toString(), "DOE^JOHN P1");

    // Reverse lookups agree with the tree.
    Patient* p = model.patients()[1];
    EXPECT_EQ(model.index(p), model.index(1, 0));
    EXPECT_EQ(model.index(p->studies[0]), model.index(0, 0, model.index(1, 0)));
}

// A tree bringing several images of a known series announces one insertion per run of adjacent
// rows, not one per image; the rows and the cached orders end up as one-by-one merging puts them.
TEST_F(DicomBrowserModelTest, ImagesOfOneMergeGoInAsRunsOfAdjacentRows)
{
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    addInstances({2, 4});
    InstanceFields first;
    first.instance = 5;
    Patient* chain = makePatient(first);
    Series* incoming = chain->studies[0]->series[0];
    for (int i : {1, 7, 6, 3}) {
        InstanceFields s;
        s.instance = i;
        std::unique_ptr<Patient> single(makePatient(s));
        Image* image = single->studies[0]->series[0]->images[0];
        single->studies[0]->series[0]->images.clear();
        image->series = incoming;
        incoming->images.push_back(image);
    }
    const QModelIndex series = model.index(0, 0, model.index(0, 0, model.index(0, 0)));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.addPatient(chain);

    std::vector<std::pair<int, int>> runs;
    for (const auto& args : inserted) {
        EXPECT_EQ(args[0].value<QModelIndex>(), series);
        runs.emplace_back(args[1].toInt(), args[2].toInt());
    }
    EXPECT_EQ(runs, (std::vector<std::pair<int, int>>{{0, 0}, {2, 2}, {4, 6}}));
    Series* merged = DicomBrowserModel::toSeries(series);
    EXPECT_EQ(instanceOrder(series), QStringList({"1", "2", "3", "4", "5", "6", "7"}));
    ASSERT_EQ(merged->imagesByInstance.size(), 7u);
    EXPECT_EQ(merged->imagesByInstance.front()->instanceNumberText, "1");
    EXPECT_EQ(merged->imagesByInstance.back()->instanceNumberText, "7");
    EXPECT_EQ(property(series, "Number of Files"), "7");
}

// Column 1 holds a series' image count (and follows merges); other rows leave it empty, and it
// has no check box of its own while the record roles still answer there.
TEST_F(DicomBrowserModelTest, ImageCountColumnFollowsTheSeries)
{
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    addInstances({3, 1, 2});
    InstanceFields second;
    second.seriesUid = "1.2.3.1.2";
    second.seriesNumber = "2";
    model.addPatient(makePatient(second));
    ASSERT_EQ(model.columnCount(), 2);
    const QModelIndex patient = model.index(0, DicomBrowserModel::ImageCountColumn);
    const QModelIndex study = model.index(0, 0, model.index(0, 0));
    const QModelIndex series = model.index(0, DicomBrowserModel::ImageCountColumn, study);
    EXPECT_EQ(series.data().toInt(), 3);
    EXPECT_EQ(model.index(1, DicomBrowserModel::ImageCountColumn, study).data().toInt(), 1);
    EXPECT_FALSE(patient.data().isValid());
    EXPECT_FALSE(model.index(0, 0, series.siblingAtColumn(0)).siblingAtColumn(1).data().isValid());  // image row
    EXPECT_FALSE(series.data(Qt::CheckStateRole).isValid());
    EXPECT_FALSE(model.flags(series).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_EQ(DicomBrowserModel::toSeries(series), DicomBrowserModel::toSeries(series.siblingAtColumn(0)));
    EXPECT_EQ(series.data(DicomBrowserModel::SeriesRole).value<Series*>(), DicomBrowserModel::toSeries(series));
    EXPECT_FALSE(model.index(0, 2, study).isValid());

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    addInstances({4});
    EXPECT_EQ(series.data().toInt(), 4);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][1].value<QModelIndex>(), series);
}
