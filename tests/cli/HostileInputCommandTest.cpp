#include "tests/support/CliRun.h"
#include "tests/support/HostileData.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace T = Dravelin::Test;

namespace {

TEST(HostileInput, TreeNamesEachUnreadableFileAndNothingBlocksOnAFifo)
{
    T::TempDir dir;
    ASSERT_TRUE(T::writeFile(dir.file("deep.dcm"),
                             T::HostileData::nestedSequences(5650, T::HostileData::Nesting::ExplicitLittle)));
    ASSERT_TRUE(T::writeFile(dir.file("zeros.dcm"), QByteArray(1024, '\0')));
    ASSERT_EQ(::mkfifo(dir.file("fifo").toUtf8().constData(), 0600), 0);
    ASSERT_TRUE(QFile::copy(T::pydicomData("test_files/CT_small.dcm"), dir.file("ct.dcm")));

    const T::CliResult tree =
        T::runCli({"tree", dir.file("deep.dcm"), dir.file("zeros.dcm"), dir.file("fifo"), dir.file("ct.dcm")}, 30000);
    EXPECT_EQ(tree.exitCode, 1) << tree.err.toStdString();
    EXPECT_EQ(tree.out.count("Patient "), 1);
    const QString err = tree.err;
    EXPECT_TRUE(err.contains("deep.dcm: sequences nested more than 100 levels deep")) << err.toStdString();
    EXPECT_TRUE(err.contains("zeros.dcm: no DICOM element")) << err.toStdString();
    EXPECT_TRUE(err.contains("fifo: not a regular file")) << err.toStdString();

    const T::CliResult load = T::runCli({"load", dir.file("fifo")}, 30000);
    EXPECT_GT(load.exitCode, 0);
}

TEST(HostileInput, WebScanGivesUpOnATricklingServerAtItsTimeout)
{
    T::HttpTestServer server([](const T::HttpTestServer::Request&) {
        auto reply = T::HttpTestServer::json("[" + std::string(4000, ' ') + "]");
        reply.mode = T::HttpTestServer::Reply::Mode::Trickle;
        return reply;
    });
    const T::CliResult result = T::runCli({"web-scan", QString::fromStdString(server.url()), "--timeout", "1"}, 60000);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains("did not answer in time")) << result.err.toStdString();
}

}  // namespace
