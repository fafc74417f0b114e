#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace {

struct AppRun
{
    int status = -1;
    QString out, err;
};

// `timeoutMs` < 0 waits for ever; a run that takes longer is killed and reads as status -1.
AppRun runApp(const QStringList& args, int timeoutMs = -1, bool display = true)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!display)
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
    // Window state and recent files of the tests stay out of the user's settings.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QDir::temp().filePath(QStringLiteral("dravelin-app-test-config")));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(DRAVELIN_APP_EXE), args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(-1);
        return {-1, QString(), QStringLiteral("did not exit")};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace

// Listing, the version and the help need no display.
TEST(DravelinApp, ListPluginsShowsAPluginAndWhatItRegistered)
{
    const AppRun run = runApp({"--list-plugins", "--plugin-dir", DRAVELIN_TEST_PLUGIN_DIR "/good"}, -1, false);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression("Plug-ins:\n  test\\.good  \\S+good\\.so\n")))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("Algorithms:\n  test.good.Echo  \"Test;Echo\"\n")) << run.out.toStdString();
    // The host's own annotation factory is not a plug-in; a missing folder is an argument error.
    EXPECT_EQ(runApp({"--list-plugins", "--plugin-dir", "/nonexistent/plugins"}).status, 2);
    const AppRun version = runApp({"--version"}, -1, false);
    EXPECT_EQ(version.status, 0) << version.err.toStdString();
    EXPECT_TRUE(version.out.contains(QRegularExpression("^dravelin \\d"))) << version.out.toStdString();
    const AppRun help = runApp({"--help"}, -1, false);
    EXPECT_EQ(help.status, 0) << help.err.toStdString();
    EXPECT_TRUE(help.out.contains("--list-plugins")) << help.out.toStdString();
}

// Opens a one-series folder through the DICOM plug-in, the way File > Open does (--run) and
// as a plain argument, and saves the window once it is shown: both end, with the series on show.
using ScreenshotRuns = ::testing::TestWithParam<bool>;

TEST_P(ScreenshotRuns, ScreenshotAfterLoadingShowsTheSeriesAndExits)
{
    Dravelin::Test::TempDir dir;
    ASSERT_TRUE(Dravelin::Test::runGenerator({"folder", dir.file("data"), "--patients", "1", "--studies", "1",
                                              "--series", "1", "--images", "8", "--size", "64"}));
    const QString png = dir.file("window.png");
    QStringList args{dir.file("data"), "--screenshot", png};
    if (GetParam())
        args << "--run"
             << "Dicom.DicomIOAlgorithmFolder";
    const AppRun run = runApp(args, 120000);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QImage shot(png);
    ASSERT_FALSE(shot.isNull());
    // The slice views show image data: many grey levels.
    QSet<int> greys;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() == c.green() && c.green() == c.blue())
                greys.insert(c.red());
        }
    EXPECT_GT(greys.size(), 64);
}

INSTANTIATE_TEST_SUITE_P(DravelinApp, ScreenshotRuns, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "RunFolderReader" : "Argument"; });

// An algorithm run on a folder of several series gets them all loaded, with no browser between:
// the picture is the export dialog (taller than wide), not the browser (wider than tall).
TEST(DravelinApp, RunOnAFolderOfSeveralSeriesLoadsThemAllForTheAlgorithm)
{
    Dravelin::Test::TempDir dir;
    ASSERT_TRUE(Dravelin::Test::runGenerator({"sample", dir.file("data")}));
    const QString png = dir.file("export.png");
    const AppRun run = runApp({dir.file("data"), "--run", "Dicom.DicomIoAlgorithm", "--screenshot", png}, 120000);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QImage shot(png);
    ASSERT_FALSE(shot.isNull());
    EXPECT_GT(shot.height(), shot.width());
}
