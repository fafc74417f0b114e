#include "host/app/GlobalSettings.h"
#include "host/app/PersistentSettings.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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

// The shared settings file holds server addresses and recent patients: only its owner reads it,
// whether the program creates it or finds one made readable by everyone, and after a rewrite.
TEST_F(GlobalSettingsBlocks, TheApplicationSettingsFileIsPrivate)
{
    const QString organization = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();
    const auto permissions = [](const QString& file) { return int(QFile(file).permissions() & 0x0777); };
    const int ownerOnly = int(QFileDevice::ReadUser | QFileDevice::WriteUser);
    for (const bool existed : {false, true}) {
        const QString file = m_dir.file(QStringLiteral("Dravelin/dravelin.conf"));
        QFile::remove(file);
        if (existed) {
            QDir().mkpath(m_dir.file(QStringLiteral("Dravelin")));
            QFile open(file);
            ASSERT_TRUE(open.open(QIODevice::WriteOnly));
            open.close();
            ASSERT_TRUE(open.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                            QFileDevice::ReadGroup));
        }
        GlobalSettings::useApplicationSettingsFile();
        EXPECT_EQ(QSettings().fileName(), file);
        EXPECT_EQ(permissions(file), ownerOnly) << existed;
        GlobalSettings::storeValue(QStringLiteral("lastDir/scanDicomWeb"), QStringLiteral("http://host/dicom-web"));
        QSettings().sync();
        EXPECT_EQ(permissions(file), ownerOnly) << existed;
    }
    QCoreApplication::setOrganizationName(organization);
    QCoreApplication::setApplicationName(application);
}

}  // namespace
}  // namespace Dravelin
