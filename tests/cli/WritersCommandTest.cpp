#include "tests/support/CliRun.h"
#include "tests/support/RtPhantom.h"
#include "tests/support/SmallFileSystem.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace T = Dravelin::Test;

namespace {

QStringList ownFiles(const QString& dir)
{
    QStringList files = T::filesUnder(dir);
    files.removeAll(".filler");
    return files;
}

constexpr long long kPage = 4096;

}  // namespace

// A writer that meets a full disk exits with the system's reason and leaves no file, not even
// when only the last page of the file does not fit; a name at the file system's limit works.
TEST(Writers, ConvertWritesWholeFilesOrNoneAtAnyNameLength)
{
    const QString source = T::pydicomData("test_files/CT_small.dcm");
    T::TempDir out;
    const QString longest = out.file(QString(251, 'c') + ".dcm");
    const T::CliResult fits = T::runCli({"convert", source, longest});
    ASSERT_EQ(fits.exitCode, 0) << fits.err.toStdString();
    const long long size = QFileInfo(longest).size();
    ASSERT_GT(size, kPage);

    T::SmallFileSystem disk(256);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a small file system needs root";
    ASSERT_TRUE(disk.leaveFree((size - 1) / kPage * kPage));
    const T::CliResult full = T::runCli({"convert", source, disk.file("ct.dcm")});
    EXPECT_EQ(full.exitCode, 2) << full.err.toStdString();
    EXPECT_TRUE(full.err.contains("No space left on device")) << full.err.toStdString();
    EXPECT_EQ(full.errLines().size(), 1) << full.err.toStdString();
    EXPECT_EQ(ownFiles(disk.path()), QStringList());
}

TEST(Writers, LabelMapAndMeshOntoAFullDiskLeaveNoFile)
{
    T::SmallFileSystem disk(256);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a small file system needs root";
    const QDir phantom(T::rtPhantomDir());
    T::TempDir out;
    struct Case
    {
        QString nrrd;
        QString stl;
    };
    for (const Case& c :
         {Case{disk.file("labels.nrrd"), out.file("mesh.stl")}, Case{out.file("labels.nrrd"), disk.file("mesh.stl")}}) {
        ASSERT_TRUE(disk.leaveFree(0));
        const T::CliResult r = T::runCli({"rt-labelmap", phantom.filePath("rtstruct.dcm"), phantom.filePath("ct"),
                                          c.nrrd, "--roi", "2", "--mesh", c.stl});
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("No space left on device")) << r.err.toStdString();
        EXPECT_EQ(ownFiles(disk.path()), QStringList());
    }
}
