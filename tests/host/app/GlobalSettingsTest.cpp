#include "host/app/GlobalSettings.h"
#include "host/app/PersistentSettings.h"
#include "tests/support/TestEnvironment.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace Dravelin {
namespace {

struct Sample
{
};

class GlobalSettingsBlocks : public ::testing::Test
{
protected:
    void SetUp() override { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path()); }
    Dravelin::Test::TempDir m_dir;
};

TEST_F(GlobalSettingsBlocks, NestedBlocksRoundTripInOrderAndAStoreReplacesTheOldOne)
{
    Properties p("Some::Settings");
    p.addParam("plain", "x");
    p.addParam("with/slash%", 7);
    Properties* list = p.addSubProperties("list");
    for (const char* name : {"zeta", "a/b", "alpha%2F"}) {
        Properties* entry = list->addSubProperties(name);
        entry->addParam("value", QString(name) + "!");
    }
    list->addSubProperties("empty");
    ASSERT_TRUE(GlobalSettings::store("Some::Settings", p));

    const Properties loaded = GlobalSettings::load("Some::Settings");
    ASSERT_EQ(loaded.allSubProperties().size(), 1u);
    EXPECT_EQ(loaded.param("with/slash%").toInt(), 7);
    std::vector<QString> names;
    for (const Properties* entry : loaded.subProperties("list")->allSubProperties())
        names.push_back(entry->name());
    EXPECT_EQ(names, (std::vector<QString>{"zeta", "a/b", "alpha%2F", "empty"}));
    EXPECT_EQ(loaded.subProperties("list")->subProperties("a/b")->param("value").toString(), "a/b!");

    list->clear();
    list->addSubProperties("only");
    ASSERT_TRUE(GlobalSettings::store("Some::Settings", p));
    const Properties replaced = GlobalSettings::load("Some::Settings");
    ASSERT_EQ(replaced.subProperties("list")->allSubProperties().size(), 1u);
    EXPECT_FALSE(GlobalSettings::contains("Some::Settings/list/zeta/value"));
}

TEST_F(GlobalSettingsBlocks, SettingsNamesAreDemangledTypeNames)
{
    EXPECT_EQ(GlobalSettings::settingsName<Sample>(), "Dravelin::(anonymous namespace)::Sample");
    EXPECT_EQ(GlobalSettings::settingsName<PersistentSettings>(), "Dravelin::PersistentSettings");
}

}  // namespace
}  // namespace Dravelin
