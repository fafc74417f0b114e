#include "tests/scanning/ScannerTestFiles.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace Dravelin;

namespace {

using Dravelin::Test::runCli;

QStringList linesStartingWith(const QStringList& lines, const QString& prefix)
{
    QStringList found;
    for (const QString& line : lines)
        if (line.trimmed().startsWith(prefix))
            found << line;
    return found;
}

}  // namespace

TEST(TreeCommand, PrintsTheSampleTree)
{
    Dravelin::Test::TempDir dir;
    ASSERT_TRUE(Dravelin::Test::runGenerator({"sample", dir.path()}));
    QStringList files;
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
        files << dir.file(name);
    ASSERT_EQ(files.size(), 32);
    QFile(dir.file("notdicom.txt")).open(QIODevice::WriteOnly);
    files << dir.file("notdicom.txt") << dir.file("missing.dcm");

    // Two files cannot be read: a partial result.
    const Dravelin::Test::CliResult result = runCli(QStringList{"tree"} + files);
    ASSERT_EQ(result.exitCode, 1);
    const QStringList out = result.outLines();
    EXPECT_EQ(
        result.errLines(),
        QStringList({"dravelin-dicom tree: cannot read " + dir.file("notdicom.txt") + ": the file is empty",
                     "dravelin-dicom tree: cannot read " + dir.file("missing.dcm") + ": No such file or directory"}));

    const QStringList patients = linesStartingWith(out, "Patient ");
    ASSERT_EQ(patients.size(), 2);
    EXPECT_TRUE(patients[0].startsWith(R"(Patient id="DRV-0001" name="Doe^Jane" sex="Female" birth=1970-01-01)"))
        << patients[0].toStdString();
    EXPECT_TRUE(patients[1].contains(R"(name="Roe^Richard" sex="Male")"));
    EXPECT_EQ(linesStartingWith(out, "Study ").size(), 2);

    const QStringList series = linesStartingWith(out, "Series ");
    ASSERT_EQ(series.size(), 4);
    EXPECT_TRUE(series[0].contains("modality=CT"));
    EXPECT_TRUE(series[0].endsWith("images=20 estimate=3D 64x64x20 (0.7mm x 0.7mm x 2.5mm)"))
        << series[0].toStdString();
    EXPECT_TRUE(series[1].endsWith("images=10 estimate=3D 64x64x10 (0.9mm x 0.9mm x 4mm)")) << series[1].toStdString();
    EXPECT_TRUE(series[2].endsWith("images=1 estimate=3D 64x64x8 (1mm x 1mm x 3mm)")) << series[2].toStdString();
    EXPECT_TRUE(series[3].contains(R"(imageType="DERIVED\SECONDARY")"));
    EXPECT_TRUE(series[3].endsWith("estimate=2D 64x64x1 (0.5mm x 0.5mm x 1mm)")) << series[3].toStdString();

    const QStringList images = linesStartingWith(out, "Image ");
    ASSERT_EQ(images.size(), 32);
    // Instance-number order within the CT series, whatever the order of the files given.
    EXPECT_TRUE(images[0].startsWith(R"(      Image instance="1" )"));
    EXPECT_TRUE(images[9].startsWith(R"(      Image instance="10" )"));
    EXPECT_TRUE(images[9].contains("position=-22.4\\-22.4\\22.5"));
    EXPECT_TRUE(images[0].endsWith("location=" + QStringLiteral("file://") + dir.file("img1")));
}

// Values may hold terminal controls (ESC sequences, carriage returns): they are printed escaped.
TEST(TreeCommand, ControlCharactersInValuesAreEscaped)
{
    Dravelin::Test::TempDir dir;
    Dravelin::Test::ImageFields fields;
    fields.patientName = "DOE\x1b[2J^JANE\rX";
    ASSERT_TRUE(Dravelin::Test::writeImage(dir.file("img.dcm"), fields));
    for (const QStringList& args : {QStringList{"tree", dir.file("img.dcm")}, QStringList{"scan", dir.path()},
                                    QStringList{"scan", dir.path(), "--tree"}}) {
        const Dravelin::Test::CliResult result = runCli(args);
        ASSERT_EQ(result.exitCode, 0) << args.join(' ').toStdString();
        EXPECT_FALSE(result.out.contains(QChar(0x1b))) << args.join(' ').toStdString();
        EXPECT_FALSE(result.out.contains('\r')) << args.join(' ').toStdString();
        EXPECT_TRUE(result.out.contains("\\x1b[2J")) << result.out.toStdString();
        EXPECT_TRUE(result.out.contains("\\rX")) << result.out.toStdString();
    }
}
