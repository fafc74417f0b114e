#include "host/app/FactoryRegistry.h"
#include "host/core/LogCapture.h"
#include "host/plugin/PluginAutoRegistrationGuard.h"
#include "host/plugin/PluginDescriptor.h"
#include "host/plugin/PluginLoader.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace Dravelin;

namespace {

struct LoadCase
{
    const char* folder;
    QStringList loaded;      // ids in initialisation order
    const char* brokenFile;  // the file a level-4 line must name, or null when none may appear
};

std::ostream& operator<<(std::ostream& os, const LoadCase& c)
{
    return os << c.folder;
}

QStringList factoryNames()
{
    QStringList names;
    for (const AlgorithmFactory* f : FactoryRegistry::global().algorithmFactories())
        names << f->name();
    return names;
}

}  // namespace

class PluginLoaderTest : public ::testing::TestWithParam<LoadCase>
{
protected:
    void SetUp() override { FactoryRegistry::global().clear(); }
    void TearDown() override { FactoryRegistry::global().clear(); }
};

TEST_P(PluginLoaderTest, LoadsGoodPluginsInDependencyOrderAndSkipsBrokenOnes)
{
    const LoadCase c = GetParam();
    LogCapture log;
    {
        PluginLoader loader;
        loader.loadFolder(QStringLiteral(DRAVELIN_TEST_PLUGIN_DIR "/") + c.folder);
        QStringList ids;
        for (const PluginLoader::Info& info : loader.plugins())
            ids << info.id;
        EXPECT_EQ(ids, c.loaded);
        // Each loaded plug-in registered its factory; a refused or failed one left nothing.
        EXPECT_EQ(factoryNames(), c.loaded);
        for (const QString& id : c.loaded) {
            auto echo = FactoryRegistry::global().instantiateAlgorithm(id + ".Echo");
            ASSERT_NE(echo, nullptr) << id.toStdString();
            EXPECT_EQ(echo->name(), "Echo");
        }

        int brokenLines = 0;
        for (const Log::Entry& e : log.entries())
            if (e.level >= 4)
                ++brokenLines;
        if (c.brokenFile) {
            // One clear line naming the plug-in, not a cascade.
            EXPECT_EQ(brokenLines, 1);
            EXPECT_TRUE(log.contains(c.brokenFile, 4)) << c.brokenFile;
        } else {
            EXPECT_EQ(brokenLines, 0);
        }
        log.clear();
    }
    // Unloading removed the factories, ran the plug-ins' destructors in reverse order (they log
    // at level 4 otherwise) and unloaded the libraries (their guards are gone).
    EXPECT_TRUE(FactoryRegistry::global().algorithmFactories().empty());
    EXPECT_TRUE(log.entries().empty());
    for (const QString& id : PluginAutoRegistrationGuard::announcedIds())
        EXPECT_FALSE(id.startsWith("test.")) << id.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Folders, PluginLoaderTest,
                         ::testing::Values(LoadCase{"good", {"test.good"}, nullptr},
                                           LoadCase{"ordered", {"test.base", "test.dependent"}, nullptr},
                                           LoadCase{"badmagic", {}, "badmagic/plugin.so"},
                                           LoadCase{"badflags", {}, "badflags/plugin.so"},
                                           LoadCase{"throwinit", {}, "test.throwinit"},
                                           LoadCase{"nocreate", {}, "nocreate/plugin.so"},
                                           LoadCase{"missingdep", {"test.survivor"}, "test.absent"}),
                         [](const ::testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.folder); });

// A plug-in cut short (a copy that did not finish, a full disk) is refused with one line naming
// it, before the loader maps it: mapping parts past the file's end would kill the process.
TEST(PluginLoaderCheck, RefusesACutShortPluginNamingIt)
{
    QFile good(QStringLiteral(DRAVELIN_TEST_PLUGIN_DIR "/good/good.so"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray whole = good.readAll();
    ASSERT_GT(whole.size(), 4096);
    Dravelin::Test::TempDir dir;
    const QString path = dir.file("cut.so");
    for (const int length : {0, 63, 200, whole.size() / 2, whole.size() - 1}) {
        ASSERT_TRUE(Dravelin::Test::writeFile(path, whole.left(length)));
        LogCapture log;
        PluginLoader loader;
        EXPECT_EQ(loader.loadFolder(dir.path()), 0) << length;
        ASSERT_EQ(log.entries().size(), 1u) << length;
        EXPECT_TRUE(log.contains("Cannot load plug-in " + path.toStdString() + ": ", 4)) << length;
    }
}

TEST(PluginDescriptorTest, AcceptsOnlyTheHostsMagicMinorVersionAndBuildFlags)
{
    const QString flags = PluginDescriptor::hostBuildFlags();
    struct Case
    {
        QString text;
        bool accepted;
    };
    const Case cases[] = {
        {DRAVELIN_PLUGIN_DESCRIPTOR(""), true},
        {"__DRAVELIN_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5.7|buildflags=" + flags + "|pluginversion=2", true},
        {"__DRAVELIN_PLUGIN_V2_MAGIC_STRING__|hostversion=4.6.0|buildflags=" + flags + "|pluginversion=", false},
        {"__DRAVELIN_PLUGIN_V2_MAGIC_STRING__|hostversion=5.5.0|buildflags=" + flags, false},
        {"__DRAVELIN_PLUGIN_V2_MAGIC_STRING__|buildflags=" + flags, false},
        {"__DRAVELIN_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5.0|buildflags=GLIBCXX_DEBUG:1", false},
        {"__DRAVELIN_PLUGIN_V1_MAGIC_STRING__|hostversion=4.5.0|buildflags=" + flags, false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PluginDescriptor::parse(c.text).incompatibility().isEmpty(), c.accepted) << c.text.toStdString();
    // The text plug-ins of a normal build carry, exactly.
    EXPECT_STREQ(DRAVELIN_PLUGIN_DESCRIPTOR(""),
                 "__DRAVELIN_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5.0|buildflags=GLIBCXX_DEBUG:_GLIBCXX_DEBUG|"
                 "pluginversion=");
}
