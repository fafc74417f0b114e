#include "tests/support/CliRun.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

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
    const CliResult run = deidentify({m_in.path(), m_in.path(), "--in-place"});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("6 files written")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(", 2 failed")) << run.out.toStdString();
    EXPECT_TRUE(run.err.contains("Not all files could be saved. See log for details"));
    for (const char* reason : {"notes.txt: not a DICOM file", "dangling.dcm: No such file or directory"})
        EXPECT_TRUE(run.err.contains(reason)) << reason << "\n" << run.err.toStdString();
    EXPECT_EQ(value(QDir(m_in.path()).filePath(m_inputs.front()), DCM_PatientIdentityRemoved), "YES");
    EXPECT_FALSE(QFile::exists(m_in.file("UNFINISHED-DEIDENTIFICATION.journal")));  // nothing a resume would change
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

// Burned-in text removed: the rules' rectangles on their device, claimed with 113100 and 113101;
// an image of another device keeps the burned-in behaviour above.
TEST_F(DeidentifyCommand, CleanPixelsRemovesTheTextItFindsAndClaimsOnlyThat)
{
    const QString device = m_out.file("device.json");
    ASSERT_TRUE(T::writeFile(device, R"({"rules": [{"Manufacturer": "ACME", "Modality": "CT",
        "regions": [{"x": 0, "y": 0, "width": 32, "height": 8}]}]})"));
    const QString cleaned = QDir(m_in.path()).filePath(m_inputs[1]);
    const QString unmatched = QDir(m_in.path()).filePath(m_inputs[4]);
    for (const QString& path : {cleaned, unmatched}) {
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(QFile::encodeName(path).constData()).good());
        ASSERT_TRUE(file.getDataset()->loadAllDataIntoMemory().good());  // saved over its own file
        file.getDataset()->putAndInsertString(DCM_BurnedInAnnotation, "YES");
        file.getDataset()->putAndInsertString(DCM_Manufacturer, path == cleaned ? "Acme" : "Other");
        ASSERT_TRUE(file.saveFile(QFile::encodeName(path).constData()).good());
    }
    const CliResult bad = deidentify({m_in.path(), m_out.file("bad"), "--clean-pixels", m_in.file("none.json")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.errLines().size(), 1) << bad.err.toStdString();
    EXPECT_TRUE(bad.err.contains("none.json")) << bad.err.toStdString();

    // Rules, then OCR: the generated phantom has no text, so only the rule's box goes.
    const CliResult run = deidentify({m_in.path(), m_out.file("out"), "--clean-pixels", device + ",auto"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Burned-in text removed from " + cleaned + ": 1 box(es): 0,0 32x8\n"))
        << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("\n1 file cleaned of burned-in text (1 box)\n")) << run.out.toStdString();
    EXPECT_TRUE(run.err.contains("Burned-in annotation in " + unmatched)) << run.err.toStdString();
    DcmFileFormat original, written;
    ASSERT_TRUE(original.loadFile(QFile::encodeName(cleaned).constData()).good());
    ASSERT_TRUE(written.loadFile(QFile::encodeName(m_out.file("out/" + m_inputs[1])).constData()).good());
    DcmDataset& out = *written.getDataset();
    EXPECT_EQ(T::text(out, DCM_BurnedInAnnotation), "NO");
    EXPECT_EQ(T::text(out, DCM_PatientIdentityRemoved), "YES");
    std::string codes;
    DcmItem* code = nullptr;
    for (int i = 0; out.findAndGetSequenceItem(DCM_DeidentificationMethodCodeSequence, code, i).good(); ++i)
        codes += T::text(*code, DCM_CodeValue) + " ";
    EXPECT_EQ(codes, "113100 113101 ");
    const Uint16 *before = nullptr, *after = nullptr;
    unsigned long count = 0, countAfter = 0;
    ASSERT_TRUE(original.getDataset()->findAndGetUint16Array(DCM_PixelData, before, &count).good());
    ASSERT_TRUE(out.findAndGetUint16Array(DCM_PixelData, after, &countAfter).good());
    ASSERT_EQ(count, countAfter);
    Uint16 columns = 0;
    out.findAndGetUint16(DCM_Columns, columns);
    const Uint16 darkest = *std::min_element(before, before + count);
    int changed = 0;
    for (unsigned long i = 0; i < count; ++i) {
        const bool inside = i % columns < 32 && i / columns < 8;
        changed += after[i] != (inside ? darkest : before[i]);
    }
    EXPECT_EQ(changed, 0);
    for (const QString& f : m_inputs)
        EXPECT_EQ(value(m_out.file("out/" + f), DCM_PatientIdentityRemoved), f == m_inputs[4] ? "NO" : "YES")
            << f.toStdString();
}

// Every file found is accounted for: hidden files are de-identified, a link to a file found
// under its own path is that file, files outside the selected series are left out (not failed),
// and two files with one SOP Instance UID are named.
TEST_F(DeidentifyCommand, EveryFileFoundIsWrittenFailedOrLeftOut)
{
    const QString first = QDir(m_in.path()).filePath(m_inputs.front());
    ASSERT_TRUE(QDir().mkpath(m_in.file(".cache")));
    ASSERT_TRUE(QFile::copy(first, m_in.file(".cache/.x.dcm")));
    ASSERT_TRUE(QFile::link(first, m_in.file("link.dcm")));
    const CliResult run = deidentify(
        {m_in.path(), m_out.path(), "--series", QString::fromStdString(value(first, DCM_SeriesInstanceUID))});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("7 files found: 4 written, 0 failed, 3 left out (3 outside the selected series)"))
        << run.out.toStdString();
    EXPECT_EQ(value(m_out.file(".cache/.x.dcm"), DCM_PatientIdentityRemoved), "YES");
    EXPECT_FALSE(QFile::exists(m_out.file("link.dcm")));
    EXPECT_TRUE(run.err.contains("1 links lead to files found under another path")) << run.err.toStdString();
    const QStringList twice = run.err.split('\n').filter("have the same SOP Instance UID");
    ASSERT_EQ(twice.size(), 1) << run.err.toStdString();
    EXPECT_TRUE(twice[0].contains(first) && twice[0].contains(m_in.file(".cache/.x.dcm"))) << twice[0].toStdString();
}

// Stopped mid-run by Ctrl-C (in place) or killed (into another folder): every file in OUTPUT is
// whole, a new run refuses to start over the unfinished one, and --resume finishes it with the
// same patients, studies and series, each file de-identified once.
class DeidentifyInterrupted : public ::testing::TestWithParam<int>
{
};

TEST_P(DeidentifyInterrupted, ResumeFinishesTheRun)
{
    const int signal = GetParam();
    T::TempDir in, other;
    ASSERT_TRUE(
        T::runGenerator({"folder", in.path(), "--patients", "4", "--studies", "2", "--series", "5", "--images", "10"}));
    const QString out = signal == SIGINT ? in.path() : other.file("out");
    const QStringList mode = signal == SIGINT ? QStringList{"--in-place"} : QStringList();
    const QString journal = QDir(out).filePath("UNFINISHED-DEIDENTIFICATION.journal");
    QProcess process;
    process.start(QStringLiteral(DRAVELIN_CLI_EXE), QStringList{"deidentify", in.path(), out} + mode);
    ASSERT_TRUE(process.waitForStarted());
    // Ctrl-C once files are converted; the kill once some are in place.
    const QRegularExpression converting("Converting Files\\.\\.\\. [1-9]");
    while (process.state() == QProcess::Running &&
           !(signal == SIGINT ? QString(process.readAllStandardError()).contains(converting)
                              : T::readFile(journal).contains("\ndone\t")))
        process.waitForReadyRead(5);
    ASSERT_EQ(process.state(), QProcess::Running) << "finished before the signal";
    ::kill(static_cast<pid_t>(process.processId()), signal);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, signal == SIGINT ? 1 : -1);
    for (const QString& file : T::filesUnder(out)) {
        if (file.contains("/.dravelin-") || file.endsWith(".journal"))
            continue;
        DcmFileFormat dicom;
        const bool whole = dicom.loadFile(QFile::encodeName(QDir(out).filePath(file)).constData()).good() &&
                           dicom.loadAllDataIntoMemory().good();
        EXPECT_TRUE(whole) << file.toStdString();
    }

    const CliResult refused = T::runCli(QStringList{"deidentify", in.path(), out} + mode);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains("give --resume")) << refused.err.toStdString();
    const CliResult resumed = T::runCli(QStringList{"deidentify", in.path(), out, "--resume"} + mode);
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err.toStdString();
    EXPECT_TRUE(resumed.out.contains(" written by the interrupted run)")) << resumed.out.toStdString();
    EXPECT_EQ(T::deidCounts(out), (T::DeidCounts{400, 4, 8, 40, 0}));
    EXPECT_EQ(T::filesUnder(out).size(), 400);  // neither journal nor temporaries
}

INSTANTIATE_TEST_SUITE_P(CtrlCInPlaceOrKilled, DeidentifyInterrupted, ::testing::Values(SIGINT, SIGKILL));

}  // namespace
