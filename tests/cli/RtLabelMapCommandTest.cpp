#include "tests/support/CliRun.h"
#include "tests/support/RtPhantom.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>

namespace T = Dravelin::Test;

TEST(RtLabelMapCommand, WritesChosenRoisAsNrrdWithGeometryAndMeshAsStl)
{
    const QDir phantom(T::rtPhantomDir());
    T::TempDir out;
    const T::CliResult r = T::runCli({"rt-labelmap", phantom.filePath("rtstruct.dcm"), phantom.filePath("ct"),
                                      out.file("labels.nrrd"), "--roi", "2", "--mesh", out.file("box.stl")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QByteArray bytes = T::readFile(out.file("labels.nrrd"));
    const int end = bytes.indexOf("\n\n");
    const QString header = QString::fromLatin1(bytes.left(end));
    EXPECT_TRUE(header.contains("sizes: 128 128 40")) << header.toStdString();
    EXPECT_TRUE(header.contains("space directions: (1,0,0) (0,1,0) (0,0,2)")) << header.toStdString();
    EXPECT_TRUE(header.contains("space origin: (-63.5,-63.5,-39)")) << header.toStdString();
    const QByteArray body = bytes.mid(end + 2);
    ASSERT_EQ(body.size(), 128 * 128 * 40 * 2);
    const auto* voxels = reinterpret_cast<const quint16*>(body.constData());
    const auto count = [&](quint16 v) { return std::count(voxels, voxels + body.size() / 2, v); };
    EXPECT_EQ(count(2), (40 * 40 - 20 * 20 + 8 * 8) * 10);  // ten 2 mm slices of the box
    EXPECT_EQ(count(1) + count(3), 0);

    const QByteArray mesh = T::readFile(out.file("box.stl"));
    ASSERT_GE(mesh.size(), 84);
    const quint32 triangles = *reinterpret_cast<const quint32*>(mesh.constData() + 80);
    EXPECT_GT(triangles, 100u);
    EXPECT_EQ(mesh.size(), 84 + 50 * static_cast<int>(triangles));

    const T::CliResult unknown = T::runCli(
        {"rt-labelmap", phantom.filePath("rtstruct.dcm"), phantom.filePath("ct"), out.file("none.nrrd"), "--roi", "7"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_FALSE(QFile::exists(out.file("none.nrrd")));
}
