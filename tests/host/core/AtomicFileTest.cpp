#include "host/core/AtomicFile.h"
#include "tests/support/SmallFileSystem.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace Dravelin {
namespace {

namespace T = Dravelin::Test;

QStringList ownFiles(const QString& dir)
{
    QStringList files = T::filesUnder(dir);
    files.removeAll(".filler");
    return files;
}

TEST(AtomicFile, AFullDiskLeavesTheTargetAsItWasAndSaysWhy)
{
    T::SmallFileSystem disk(64);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a small file system needs root";
    const QString target = disk.file("settings.xml");
    ASSERT_TRUE(AtomicFile::writeWhole(target, "old"));
    QString error;
    EXPECT_FALSE(AtomicFile::writeWhole(target, QByteArray(200 * 1024, 'x'), &error));
    EXPECT_EQ(error, "Cannot write '" + target + "': No space left on device");
    EXPECT_EQ(T::readFile(target), "old");
    EXPECT_EQ(ownFiles(disk.path()), QStringList{"settings.xml"});
}

TEST(AtomicFile, KeepsTheModeOfAReplacedFileAndDropsWhatWasNotCommitted)
{
    T::TempDir dir;
    const QString target = dir.file("profile.xml");
    ASSERT_TRUE(AtomicFile::writeWhole(target, "a"));
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    ASSERT_TRUE(AtomicFile::writeWhole(target, "b"));
    struct stat info;
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    {
        AtomicFile abandoned(target);
        ASSERT_TRUE(abandoned.open());
        ASSERT_TRUE(abandoned.write("c", 1));
    }
    EXPECT_EQ(T::readFile(target), "b");
    EXPECT_EQ(T::filesUnder(dir.path()), QStringList{"profile.xml"});
}

}  // namespace
}  // namespace Dravelin
