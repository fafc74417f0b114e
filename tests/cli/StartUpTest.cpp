#include "tests/support/CliRun.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

// The tool takes only the code its commands use, and loads the libraries that few commands need
// (VTK, curl, codecs, Qt GUI) at their first call: a scan must start and run without them.
TEST(StartUp, AScanLoadsNoLibraryThatOnlyOtherCommandsNeed)
{
    Dravelin::Test::TempDir dir;
    ASSERT_TRUE(QFile::copy(Dravelin::Test::pydicomData("test_files/CT_small.dcm"), dir.file("ct.dcm")));
    const Dravelin::Test::CliResult result =
        Dravelin::Test::runCli({"scan", dir.path(), "--json"}, {{"LD_DEBUG", "files"}});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(Dravelin::Test::jsonPatients(result.out).size(), 1);

    QStringList loaded;
    const QRegularExpression file(QStringLiteral(R"(file=(\S+) +\[)"));
    for (auto match = file.globalMatch(result.err); match.hasNext();)
        loaded << match.next().captured(1);
    ASSERT_FALSE(loaded.isEmpty()) << "the dynamic loader did not report its files";
    QStringList unwanted{"libQt5Widgets", "libvtkRendering"};
    // Without the lazy-loading stubs (the sanitizer build, other processors) these load at start.
#ifdef DRAVELIN_CLI_LAZY_LIBRARIES
    unwanted << "libGL"
             << "libOpenGL"
             << "libvtk"
             << "libQt5Gui"
             << "libcurl"
             << "libopenjp2"
             << "libdcmjpeg"
             << "libdcmjpls"
             << "libtesseract";
#endif
    for (const QString& library : loaded)
        for (const QString& name : unwanted)
            EXPECT_FALSE(library.startsWith(name)) << library.toStdString();
}
