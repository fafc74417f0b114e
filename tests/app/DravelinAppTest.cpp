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

AppRun runApp(const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Window state and recent files of the tests stay out of the user's settings.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QDir::temp().filePath(QStringLiteral("dravelin-app-test-config")));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(DRAVELIN_APP_EXE), args);
    p.waitForFinished(-1);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace

TEST(DravelinApp, ListPluginsShowsAPluginAndWhatItRegistered)
{
    const AppRun run = runApp({"--list-plugins", "--plugin-dir", DRAVELIN_TEST_PLUGIN_DIR "/good"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression("Plug-ins:\n  test\\.good  \\S+good\\.so\n")))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("Algorithms:\n  test.good.Echo  \"Test;Echo\"\n")) << run.out.toStdString();
    // The host's own annotation factory is not a plug-in; a missing folder is an argument error.
    EXPECT_EQ(runApp({"--list-plugins", "--plugin-dir", "/nonexistent/plugins"}).status, 2);
    const AppRun version = runApp({"--version"});
    EXPECT_EQ(version.status, 0) << version.err.toStdString();
    EXPECT_TRUE(version.out.contains(QRegularExpression("^dravelin \\d"))) << version.out.toStdString();
}

// Opens the sample data through the DICOM plug-in and saves the window once it is shown.
TEST(DravelinApp, ScreenshotAfterLoadingShowsTheSeries)
{
    Dravelin::Test::TempDir dir;
    ASSERT_TRUE(Dravelin::Test::runGenerator({"sample", dir.file("data")}));
    const QString png = dir.file("window.png");
    const AppRun run = runApp({dir.file("data"), "--screenshot", png});
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
