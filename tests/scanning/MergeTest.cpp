#include "tests/scanning/TestDatasets.h"

#include "scanning/PacsSeriesProxy.h"
#include "scanning/TreeMerger.h"

#include <gtest/gtest.h>

using namespace Dravelin;
using namespace Dravelin::Dicom;

namespace {

// Owns the merged tree.
class Merge : public ::testing::Test
{
protected:
    ~Merge() override
    {
        for (Patient* p : patients)
            delete p;
    }
    void merge(Patient* chain) { merger.merge(patients, chain); }
    std::vector<Patient*> patients;
    TreeMerger merger;
};

// Records the hook calls as text, e.g. "image+ 0" for a finished image insertion at row 0.
class RecordingMerger : public TreeMerger
{
public:
    std::vector<std::string> calls;

protected:
    void aboutToInsertPatient(int row) override { calls.push_back("patient? " + std::to_string(row)); }
    void patientInserted(int row) override { calls.push_back("patient+ " + std::to_string(row)); }
    void aboutToInsertStudy(Patient*, int row) override { calls.push_back("study? " + std::to_string(row)); }
    void studyInserted(Patient*, int row) override { calls.push_back("study+ " + std::to_string(row)); }
    void aboutToInsertSeries(Study*, int row) override { calls.push_back("series? " + std::to_string(row)); }
    void seriesInserted(Study*, int row) override { calls.push_back("series+ " + std::to_string(row)); }
    void aboutToInsertImages(Series* s, int first, int last) override
    {
        calls.push_back("image? " + rows(first, last) + " of " + std::to_string(s->images.size()));
    }
    void imagesInserted(Series* s, int first, int last) override
    {
        calls.push_back("image+ " + rows(first, last) + " of " + std::to_string(s->images.size()));
    }
    void seriesChanged(Series* s) override { calls.push_back("changed " + s->seriesInstanceUid.toStdString()); }

private:
    static std::string rows(int first, int last)
    {
        return std::to_string(first) + (last == first ? "" : "-" + std::to_string(last));
    }
};

Patient* instance(const std::string& instanceNumber, const std::string& series = "1.1.1")
{
    Dravelin::Test::TagValues extra;
    if (!instanceNumber.empty())
        extra.push_back({DCM_InstanceNumber, instanceNumber});
    return Dravelin::Test::makeChain("ID1", "Doe^Jane", "1.1", series, extra);
}

QStringList instanceTexts(const Series* series)
{
    QStringList texts;
    for (const Image* image : series->images)
        texts << image->instanceNumberText;
    return texts;
}

}  // namespace

TEST_F(Merge, ImagesEndUpInInstanceNumberOrder)
{
    merge(instance("12"));
    merge(instance("7"));
    ASSERT_EQ(patients.size(), 1u);
    const Series* series = patients[0]->studies.at(0)->series.at(0);
    EXPECT_EQ(instanceTexts(series), QStringList({"7", "12"}));
    for (const Image* image : series->images)
        EXPECT_EQ(image->series, series);
    // The estimate rebuilt the cached order the first insertion found stale.
    EXPECT_EQ(series->imagesByInstance.size(), 2u);

    // An image without a number sorts before the first image whose key is not negative.
    merge(instance("-3"));
    merge(instance(""));
    EXPECT_EQ(instanceTexts(series), QStringList({"-3", "", "7", "12"}));
}

TEST_F(Merge, SamePatientNewStudyAndDifferentNames)
{
    merge(Dravelin::Test::makeChain("ID1", "Doe^Jane", "1.1", "1.1.1"));
    merge(Dravelin::Test::makeChain("ID1", "Doe^Jane", "1.2", "1.2.1"));
    merge(Dravelin::Test::makeChain("ID1", "Doe^John", "1.3", "1.3.1"));
    merge(Dravelin::Test::makeChain("id1", "Doe^Jane", "1.4", "1.4.1"));
    ASSERT_EQ(patients.size(), 3u);
    ASSERT_EQ(patients[0]->studies.size(), 2u);
    EXPECT_EQ(patients[0]->studies[1]->studyInstanceUid, "1.2");
    EXPECT_EQ(patients[0]->studies[1]->patient, patients[0]);
    EXPECT_EQ(patients[1]->patientName, "Doe^John");
    EXPECT_EQ(patients[2]->patientId, "id1");

    // Empty IDs and names merge with each other.
    merge(Dravelin::Test::makeChain("", "", "2.1", "2.1.1"));
    merge(Dravelin::Test::makeChain("", "", "2.2", "2.2.1"));
    ASSERT_EQ(patients.size(), 4u);
    EXPECT_EQ(patients[3]->studies.size(), 2u);
}

TEST_F(Merge, NewSeriesJoinsExistingStudyAndMatchedValuesStay)
{
    merge(Dravelin::Test::makeChain("ID1", "Doe^Jane", "1.1", "1.1.1", {{DCM_StudyDescription, "first"}}));
    merge(Dravelin::Test::makeChain("ID1", "Doe^Jane", "1.1", "1.1.2", {{DCM_StudyDescription, "second"}}));
    const Study* study = patients.at(0)->studies.at(0);
    ASSERT_EQ(study->series.size(), 2u);
    EXPECT_EQ(study->series[1]->study, study);
    EXPECT_EQ(study->studyDescription, "first");
    // New series are estimated when they arrive.
    EXPECT_EQ(study->series[1]->estimatedDimensions.kind, 1);
}

TEST_F(Merge, PlaceholderOfAMergedStudyIsDroppedAndANewStudyKeepsIt)
{
    merge(Dravelin::Test::makeChain("ID1", "Doe^Jane", "1.1", "1.1.1"));

    Patient* sameStudy = Dravelin::Test::makeChain("ID1", "Doe^Jane", "1.1", "1.1.2");
    sameStudy->studies[0]->pacsSeriesProxy = new PacsSeriesProxy(sameStudy->studies[0]);
    merge(sameStudy);  // the placeholder is deleted with its study (checked by ASan builds)
    EXPECT_EQ(patients[0]->studies[0]->pacsSeriesProxy, nullptr);

    Patient* newStudy = Dravelin::Test::makeChain("ID1", "Doe^Jane", "1.2", "1.2.1");
    auto* proxy = new PacsSeriesProxy(newStudy->studies[0]);
    newStudy->studies[0]->pacsSeriesProxy = proxy;
    merge(newStudy);
    ASSERT_EQ(patients[0]->studies.size(), 2u);
    EXPECT_EQ(patients[0]->studies[1]->pacsSeriesProxy, proxy);
    EXPECT_EQ(proxy->study, patients[0]->studies[1]);
}

TEST_F(Merge, HooksAnnounceEveryInsertionWithItsRow)
{
    RecordingMerger recording;
    recording.merge(patients, instance("5"));
    recording.merge(patients, instance("9"));
    recording.merge(patients, instance("1"));
    recording.merge(patients, instance("3", "1.1.2"));
    recording.merge(patients, Dravelin::Test::makeChain("ID1", "Doe^Jane", "1.2", "1.2.1"));
    recording.merge(patients, Dravelin::Test::makeChain("ID2", "Roe", "2.1", "2.1.1"));
    const std::vector<std::string> expected = {
        "patient? 0",    "patient+ 0",                      // first chain
        "image? 1 of 1", "image+ 1 of 2", "changed 1.1.1",  // 9 after 5
        "image? 0 of 2", "image+ 0 of 3", "changed 1.1.1",  // 1 before 5
        "series? 1",     "series+ 1",                       // new series
        "study? 1",      "study+ 1",                        // new study
        "patient? 1",    "patient+ 1",                      // new patient
    };
    EXPECT_EQ(recording.calls, expected);
    EXPECT_EQ(instanceTexts(patients[0]->studies[0]->series[0]), QStringList({"1", "5", "9"}));
}

// Threads deliver files out of order: equal numbers still end up as merging file by file puts
// them (the later file first), and before an equal image from elsewhere.
TEST_F(Merge, EqualNumbersFollowTheFileOrderWhateverTheArrival)
{
    merge(instance("2"));  // not from a folder scan
    for (std::uint32_t order : {3u, 1u, 5u, 2u, 4u}) {
        Patient* chain = instance("2");
        Image* image = chain->studies[0]->series[0]->images[0];
        image->scanOrder = order;
        image->protocolName = QString::number(order);  // to tell them apart
        merge(chain);
    }
    QStringList orders;
    for (const Image* image : patients.at(0)->studies.at(0)->series.at(0)->images)
        orders << image->protocolName;
    EXPECT_EQ(orders, QStringList({"5", "4", "3", "2", "1", ""}));
}

TEST_F(Merge, DuplicateInstancesAreKeptAndNullIsIgnored)
{
    merge(instance("4"));
    merge(instance("4"));
    merge(nullptr);
    EXPECT_EQ(patients.at(0)->studies.at(0)->series.at(0)->images.size(), 2u);
}
