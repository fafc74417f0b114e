#include "tests/support/CliRun.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace T = Dravelin::Test;

namespace {

QJsonObject firstImage(const QString& out)
{
    return QJsonDocument::fromJson(out.toUtf8())
        .object()["imageSets"]
        .toArray()[0]
        .toObject()["images"]
        .toArray()[0]
        .toObject();
}

// The peak resident memory of `dravelin-dicom ARGS` in bytes; -1 when it fails.
long long peakMemory(const QStringList& args)
{
    std::vector<std::string> strings{DRAVELIN_CLI_EXE};
    for (const QString& a : args)
        strings.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return static_cast<long long>(usage.ru_maxrss) * 1024;
}

}  // namespace

TEST(ConvertCommand, LoadConvertLoadKeepsValuesAndGeometry)
{
    const QString source = T::pydicomData("test_files/MR_small_RLE.dcm");
    T::TempDir out;
    const auto before = T::runCli({"load", source, "--json"});
    ASSERT_EQ(before.exitCode, 0) << before.err.toStdString();
    const auto convert = T::runCli({"convert", source, out.path(), "--compression", "jpeg-ls"});
    ASSERT_EQ(convert.exitCode, 0) << convert.err.toStdString();
    const auto after = T::runCli({"load", out.path(), "--json"});
    ASSERT_EQ(after.exitCode, 0) << after.err.toStdString();
    for (const char* key : {"minimum", "maximum", "mean", "imageToWorld", "width", "height", "slices"})
        EXPECT_EQ(firstImage(before.out)[key], firstImage(after.out)[key]) << key;
}

// Lossy JPEG keeps every modality's values within the bound --help states (quality 90: 22 steps
// of 1/4095 of the value range); an MR used to lose its rescale.
TEST(ConvertCommand, LossyJpegKeepsEveryModalityWithinTheStatedBound)
{
    for (const char* name : {"MR_small.dcm", "CT_small.dcm"}) {
        SCOPED_TRACE(name);
        const QString source = T::pydicomData(QString("test_files/") + name);
        T::TempDir out;
        const auto before = T::runCli({"load", source, "--json"});
        ASSERT_EQ(before.exitCode, 0) << before.err.toStdString();
        const auto convert = T::runCli({"convert", source, out.path(), "--compression", "jpeg", "--quality", "90"});
        ASSERT_EQ(convert.exitCode, 0) << convert.err.toStdString();
        const auto after = T::runCli({"load", out.path(), "--json"});
        ASSERT_EQ(after.exitCode, 0) << after.err.toStdString();
        const QJsonObject a = firstImage(before.out), b = firstImage(after.out);
        const double bound = 22 * (a["maximum"].toDouble() - a["minimum"].toDouble()) / 4095;
        for (const char* key : {"minimum", "maximum", "mean"})
            EXPECT_NEAR(b[key].toDouble(), a[key].toDouble(), bound) << key;
    }
}

// Killing an export half-way leaves whole files only: the one being written is still under a
// hidden temporary name.
TEST(ConvertCommand, KilledFolderExportLeavesOnlyWholeFiles)
{
    T::TempDir source, out;
    ASSERT_TRUE(T::runGenerator({"folder", source.path(), "--patients", "1", "--studies", "1", "--series", "1",
                                 "--images", "40", "--size", "256"}));
    QString series = source.path();
    while (QDir(series).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() == 1)
        series = QDir(series).filePath(QDir(series).entryList(QDir::Dirs | QDir::NoDotAndDotDot).front());

    QProcess convert;
    convert.start(DRAVELIN_CLI_EXE, {"convert", series, out.path(), "--compression", "j2k-lossless"});
    ASSERT_TRUE(convert.waitForStarted());
    while (convert.state() == QProcess::Running && QDir(out.path()).entryList({"*.dcm"}, QDir::Files).size() < 3)
        QThread::msleep(5);
    ::kill(static_cast<pid_t>(convert.processId()), SIGKILL);
    convert.waitForFinished();

    const QStringList files = QDir(out.path()).entryList({"*.dcm"}, QDir::Files);
    ASSERT_GE(files.size(), 3);
    for (const QString& name : files) {
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(QDir(out.path()).filePath(name).toStdString().c_str()).good()) << name.toStdString();
        EXPECT_TRUE(file.getDataset()->tagExistsWithValue(DCM_PixelData)) << name.toStdString();
    }
}

// A series is written slice by slice from the loaded volume: converting takes little more memory
// than loading (it used to hold the series a second time, as datasets).
TEST(ConvertCommand, ConvertingHoldsTheSeriesOnce)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer keeps freed memory in quarantine: peaks say nothing here";
#endif
    T::TempDir source, out;
    constexpr int kImages = 100, kSize = 512;
    ASSERT_TRUE(T::runGenerator({"folder", source.path(), "--patients", "1", "--studies", "1", "--series", "1",
                                 "--images", QString::number(kImages), "--size", QString::number(kSize)}));
    QString series = source.path();
    while (QDir(series).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() == 1)
        series = QDir(series).filePath(QDir(series).entryList(QDir::Dirs | QDir::NoDotAndDotDot).front());
    const long long load = peakMemory({"load", series});
    const long long convert = peakMemory({"convert", series, out.path(), "--compression", "explicit"});
    ASSERT_GT(load, 0);
    ASSERT_GT(convert, 0);
    EXPECT_EQ(QDir(out.path()).entryList({"*.dcm"}, QDir::Files).size(), kImages);
    const long long voxels = 2LL * kImages * kSize * kSize;
    EXPECT_LT(convert - load, voxels / 5) << "load " << load / 1048576 << " MiB, convert " << convert / 1048576
                                          << " MiB, voxels " << voxels / 1048576 << " MiB";
}
