#include "tests/support/CliRun.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

namespace {

namespace T = Dravelin::Test;
using T::CliResult;

CliResult deidentify(const QStringList& args)
{
    return T::runCli(QStringList{"deidentify"} + args);
}

std::string value(const QString& file, const DcmTagKey& key)
{
    DcmFileFormat f;
    return f.loadFile(QFile::encodeName(file).constData()).good() ? T::text(*f.getDataset(), key) : std::string();
}

class DeidentifyCommand : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(T::runGenerator(
            {"folder", m_in.path(), "--patients", "1", "--studies", "1", "--series", "2", "--images", "3"}));
        m_inputs = T::filesUnder(m_in.path());
        ASSERT_EQ(m_inputs.size(), 6);
    }
    T::TempDir m_in;
    T::TempDir m_out;
    QStringList m_inputs;
};

TEST_F(DeidentifyCommand, WritesEveryFileAtItsRelativePath)
{
    const CliResult run = deidentify({m_in.path(), m_out.path()});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(T::filesUnder(m_out.path()), m_inputs);
    EXPECT_TRUE(run.out.startsWith("6 files written")) << run.out.toStdString();
    EXPECT_TRUE(run.err.contains("Converting Files... 6/6"));
    const QString first = QDir(m_out.path()).filePath(m_inputs.front());
    EXPECT_EQ(value(first, DCM_PatientIdentityRemoved), "YES");
    EXPECT_EQ(value(first, DCM_PatientName), "");
    EXPECT_NE(value(first, DCM_StudyInstanceUID),
              value(QDir(m_in.path()).filePath(m_inputs.front()), DCM_StudyInstanceUID));
}

TEST_F(DeidentifyCommand, SeriesSelectionAndProfiles)
{
    const QString source = QDir(m_in.path()).filePath(m_inputs.front());
    const QString series = QString::fromStdString(value(source, DCM_SeriesInstanceUID));
    const CliResult run = deidentify({m_in.path(), m_out.path(), "--series", series, "--profile", "relaxed"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList written = T::filesUnder(m_out.path());
    EXPECT_EQ(written.size(), 3);
    for (const QString& f : written)
        EXPECT_EQ(QString::fromStdString(value(QDir(m_out.path()).filePath(f), DCM_SeriesInstanceUID)), series);
}

TEST_F(DeidentifyCommand, OriginalsAreNeverLostOrSkippedSilently)
{
    // Files the run cannot read are named with the reason and counted.
    ASSERT_TRUE(QFile::copy(QStringLiteral(DRAVELIN_SOURCE_DIR "/README.md"), m_in.file("notes.txt")));
    ASSERT_TRUE(QFile::link(m_in.file("gone.dcm"), m_in.file("dangling.dcm")));
    const CliResult run = deidentify({m_in.path(), m_in.path(), "--in-place"});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("6 files written")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(", 2 failed")) << run.out.toStdString();
    EXPECT_TRUE(run.err.contains("Not all files could be saved. See log for details"));
    for (const char* reason : {"notes.txt: not a DICOM file", "dangling.dcm: No such file or directory"})
        EXPECT_TRUE(run.err.contains(reason)) << reason << "\n" << run.err.toStdString();
    EXPECT_EQ(value(QDir(m_in.path()).filePath(m_inputs.front()), DCM_PatientIdentityRemoved), "YES");
}

// Burned-in text stays in the pixels: each such file is named, written without the claim that
// the patient's identity is removed, or left out on request and counted so.
TEST_F(DeidentifyCommand, BurnedInFilesAreNamedAndMayBeLeftOut)
{
    QStringList burned;
    for (const QString& f : {m_inputs[1], m_inputs[4]}) {
        const QString path = QDir(m_in.path()).filePath(f);
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(QFile::encodeName(path).constData()).good());
        file.getDataset()->putAndInsertString(DCM_BurnedInAnnotation, "YES");
        ASSERT_TRUE(file.saveFile(QFile::encodeName(path).constData()).good());
        burned << path;
    }
    const CliResult written = deidentify({m_in.path(), m_out.file("all")});
    EXPECT_EQ(written.exitCode, 0) << written.err.toStdString();
    EXPECT_TRUE(written.out.startsWith("6 files written")) << written.out.toStdString();
    for (const QString& path : burned)
        EXPECT_EQ(written.err.count(path), 1) << path.toStdString() << "\n" << written.err.toStdString();
    for (const QString& f : m_inputs)
        EXPECT_EQ(value(m_out.file("all/" + f), DCM_PatientIdentityRemoved),
                  f == m_inputs[1] || f == m_inputs[4] ? "NO" : "YES")
            << f.toStdString();

    const CliResult skipped = deidentify({m_in.path(), m_out.file("skipped"), "--skip-burned-in"});
    EXPECT_EQ(skipped.exitCode, 0) << skipped.err.toStdString();
    EXPECT_TRUE(skipped.out.startsWith("4 files written")) << skipped.out.toStdString();
    EXPECT_TRUE(skipped.out.contains(", 0 failed")) << skipped.out.toStdString();
    EXPECT_TRUE(skipped.err.contains("2 files with burned-in annotation left out")) << skipped.err.toStdString();
    EXPECT_EQ(T::filesUnder(m_out.file("skipped")).size(), 4);
    EXPECT_FALSE(QFile::exists(m_out.file("skipped/" + m_inputs[1])));
}

}  // namespace
