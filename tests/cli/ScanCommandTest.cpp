#include "tests/scanning/ScannerTestFiles.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace T = Dravelin::Test;

namespace {

using Result = T::CliResult;

Result runScan(const QStringList& args)
{
    return T::runCli(QStringList{"scan"} + args);
}

// img1..img3 hold instances 3, 2, 1 of one series at z = 3.75, 2.5, 1.25: file order and
// instance order disagree.
bool writeReversedSeries(const T::TempDir& dir, T::ImageFields fields = {})
{
    for (int i = 1; i <= 3; ++i) {
        fields.instanceNumber = 4 - i;
        fields.z = 1.25 * (4 - i);
        if (!T::writeImage(dir.file(QString("img%1.dcm").arg(i)), fields))
            return false;
    }
    return true;
}

}  // namespace

TEST(ScanCommand, EmptyFolderSucceeds)
{
    T::TempDir dir;
    const Result text = runScan({dir.path()});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(text.out.contains("\n0 patients, 0 studies, 0 series, 0 images, 0 files, ")) << text.out.toStdString();
    EXPECT_TRUE(text.err.contains("No files found in directory '" + dir.path() + "'."));
    const Result json = runScan({dir.path(), "--json"});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(QJsonDocument::fromJson(json.out.toUtf8()).object(), QJsonObject({{"patients", QJsonArray()}}));
}

TEST(ScanCommand, JsonHoldsTheRecordFields)
{
    T::TempDir dir;
    T::ImageFields fields;
    // What JSON must escape, each in a text of its own.
    fields.patientId = "P\"1\"";
    fields.patientName = "DOE^JANE\x01";
    ASSERT_TRUE(writeReversedSeries(dir, fields));
    ASSERT_TRUE(T::writeFile(dir.file("notes.txt"), "junk"));

    const Result r = runScan({dir.path(), "--json", "--threads", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonArray patients = T::jsonPatients(r.out);
    ASSERT_EQ(patients.size(), 1);
    const QJsonObject patient = patients[0].toObject();
    EXPECT_EQ(patient["patientId"], "P\"1\"");
    EXPECT_EQ(patient["patientName"], "DOE^JANE\x01");
    EXPECT_TRUE(r.out.contains("\"DOE^JANE\\u0001\"")) << "Qt reads a raw control character too";
    EXPECT_EQ(patient["birthDate"], "");
    const QJsonObject study = patient["studies"].toArray()[0].toObject();
    EXPECT_EQ(study["studyDate"], "2024-01-31");
    EXPECT_EQ(study["studyTime"], "10:15:30.250");
    const QJsonObject series = study["series"].toArray()[0].toObject();
    EXPECT_EQ(series["modality"], "CT");
    EXPECT_EQ(series["seriesNumber"], 3);
    EXPECT_EQ(series["estimatedDimensions"], "3D (0.5mm x 0.5mm x 1.25mm)");
    const QJsonArray images = series["images"].toArray();
    ASSERT_EQ(images.size(), 3);
    const QJsonObject first = images[0].toObject();
    EXPECT_EQ(first["instanceNumber"], 1);
    EXPECT_EQ(first["instanceNumberText"], "1");
    EXPECT_EQ(first["width"], 4);
    EXPECT_EQ(first["numberOfFrames"], 1);
    EXPECT_TRUE(first["spacingBetweenSlices"].isNull());
    EXPECT_TRUE(first["acquisitionNumber"].isNull());
    EXPECT_EQ(first["pixelSpacing"], QJsonArray({0.5, 0.5}));
    EXPECT_EQ(first["imagePosition"], QJsonArray({0, 0, 1.25}));
    EXPECT_EQ(first["imageType"], "ORIGINAL\\PRIMARY\\AXIAL");
    EXPECT_TRUE(first["location"].toString().endsWith("/img3.dcm"));
    EXPECT_TRUE(r.err.contains("1 patient, 1 study, 1 series, 3 images, 4 files")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("\n1 file skipped: 1 not DICOM\n")) << r.err.toStdString();
}

// Two threads write the images of large series in parts: the document is that of one.
TEST(ScanCommand, JsonIsTheSameWrittenByTwoThreads)
{
    T::TempDir dir;
    ASSERT_TRUE(T::runGenerator({"folder", dir.path(), "--patients", "1", "--studies", "1", "--series", "2", "--images",
                                 "300", "--size", "2"}));
    const Result one = runScan({dir.path(), "--json", "--threads", "1"});
    const Result two = runScan({dir.path(), "--json", "--threads", "2"});
    ASSERT_EQ(one.exitCode, 0) << one.err.toStdString();
    EXPECT_EQ(one.out.count("\"sopInstanceUid\""), 600);
    EXPECT_EQ(one.out, two.out);
}

// --tree is the browser model's own rendering: display texts, check boxes, properties.
TEST(ScanCommand, TreeIsTheBrowserView)
{
    T::TempDir dir;
    ASSERT_TRUE(writeReversedSeries(dir));
    const Result text = runScan({dir.path(), "--no-recursive", "--tree"});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const QStringList lines = text.out.split('\n');
    EXPECT_EQ(lines.value(0), "[ ] ID: P1 - Name: DOE JANE");
    EXPECT_EQ(lines.value(1), "    Id: P1");
    EXPECT_EQ(lines.value(2), "    Name: DOE JANE");
    EXPECT_TRUE(lines.contains("        Estimated Dimensions: 3D (0.5mm x 0.5mm x 1.25mm)"));
    EXPECT_TRUE(lines.contains("        Number of Files: 3"));
    QStringList images;
    for (const QString& line : lines)
        if (line.startsWith("      file://"))
            images << line.section('/', -1);
    EXPECT_EQ(images, QStringList({"img3.dcm", "img2.dcm", "img1.dcm"}));
    EXPECT_TRUE(text.out.contains("1 patient, 1 study, 1 series, 3 images, 3 files"));

    const Result noImages = runScan({dir.path(), "--no-images", "--tree"});
    EXPECT_EQ(noImages.exitCode, 0);
    EXPECT_FALSE(noImages.out.contains("file://"));
    EXPECT_FALSE(noImages.out.contains("SOP Instance UID"));
    EXPECT_TRUE(noImages.out.contains("Number of Files: 3"));
}

TEST(ScanCommand, DicomdirPath)
{
    const Result r = runScan({T::pydicomData("test_files/dicomdirtests/DICOMDIR"), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(T::jsonPatients(r.out).size(), 2);
    EXPECT_TRUE(r.err.contains("2 patients, "));
}

// The default output: one row per shown series that fits the width, a summary of what the
// filters show, and the files left out by reason.
TEST(ScanCommand, SeriesTableSummaryAndSkippedFiles)
{
    T::TempDir dir;
    ASSERT_TRUE(T::runGenerator({"folder", dir.path(), "--patients", "1", "--studies", "1", "--series", "2", "--images",
                                 "3", "--size", "16", "--junk", "3", "--truncated", "2"}));
    const Result mr = runScan({dir.path(), "--modality", "MR", "--verbose"});
    ASSERT_EQ(mr.exitCode, 0) << mr.err.toStdString();
    const QStringList lines = mr.outLines();
    ASSERT_EQ(lines.size(), 9) << mr.out.toStdString();
    EXPECT_EQ(lines[0].simplified(), "PATIENT STUDY SERIES MODALITY IMAGES DIMENSIONS");
    EXPECT_EQ(lines[1].simplified(),
              "Synthetic Patient1 (GEN1) 2023-02-02 Study 1 2 Series 2 MR 3 3D 16x16x3 (15.62mm x 15.62mm x 1mm)");
    EXPECT_TRUE(lines[2].startsWith("1 patient, 1 study, 1 series, 3 images, 11 files, ")) << lines[2].toStdString();
    EXPECT_EQ(lines[3], "5 files skipped: 3 not DICOM, 2 truncated");
    EXPECT_TRUE(lines[4].startsWith("  " + dir.path() + "/")) << lines[4].toStdString();
    EXPECT_EQ(lines.filter(QRegularExpression("/truncated[12].dcm: truncated$")).size(), 2);
    EXPECT_EQ(lines.filter(QRegularExpression("/junk[123].(txt|bin|dcm): not DICOM$")).size(), 3);

    const Result narrow = T::runCli({"scan", dir.path()}, {{"COLUMNS", "60"}});
    ASSERT_EQ(narrow.exitCode, 0);
    const QStringList rows = narrow.outLines().mid(0, 3);
    for (const QString& row : rows)
        EXPECT_LE(row.size(), 60) << row.toStdString();
    EXPECT_TRUE(rows[1].contains("…")) << rows[1].toStdString();
    EXPECT_TRUE(rows[1].contains(" CT ")) << rows[1].toStdString();
}
