#include "tests/support/CliRun.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

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
    const QByteArray first = QFile::encodeName(QDir(m_in.path()).filePath(m_inputs.front()));
    ASSERT_EQ(::symlink(first.constData(), (QFile::encodeName(m_in.path()) + "/caf\xe9.dcm").constData()), 0);
    const CliResult run = deidentify({m_in.path(), m_in.path(), "--in-place"});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("6 files written")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(", 3 failed")) << run.out.toStdString();
    EXPECT_TRUE(run.err.contains("Not all files could be saved. See log for details"));
    for (const char* reason :
         {"notes.txt: not a DICOM file", "dangling.dcm: No such file or directory", ".dcm: the name is not UTF-8"})
        EXPECT_TRUE(run.err.contains(reason)) << reason << "\n" << run.err.toStdString();
    EXPECT_EQ(value(QDir(m_in.path()).filePath(m_inputs.front()), DCM_PatientIdentityRemoved), "YES");
}

}  // namespace
