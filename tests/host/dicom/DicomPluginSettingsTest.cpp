#include "host/dicom/DicomPluginSettings.h"
#include "host/app/GlobalSettings.h"
#include "host/core/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace Dravelin {
namespace {

using Server = DicomPluginSettings::PacsServer;

class DicomPluginSettingsStore : public ::testing::Test
{
protected:
    void SetUp() override { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path()); }
    QByteArray storedText() const { return Dravelin::Test::readFile(QSettings().fileName()); }
    Dravelin::Test::TempDir m_dir;
};

TEST_F(DicomPluginSettingsStore, ServersAndParametersSurviveAFreshObjectAndDeletedServersLeaveNoTrace)
{
    EXPECT_EQ(GlobalSettings::settingsName<DicomPluginSettings>(), "Dravelin::DicomPluginSettings");
    const std::vector<Server> servers{{"Main PACS", "pacs.local", 11112, "MAINAE", true},
                                      {"Archive/Old", "archive.example", 104, "ARCH", false}};
    {
        DicomPluginSettings settings;
        EXPECT_TRUE(settings.pacsServers().empty());
        settings.setPacsServers(servers);
        Properties update;
        update.addParam("pacsOwnAeTitle", "OURS");
        update.addParam("exportQuality", 75);
        settings.configure(&update);
    }
    {
        DicomPluginSettings settings;
        EXPECT_EQ(settings.pacsServers(), servers);
        EXPECT_EQ(settings.exportQuality.value(), 75);
        const DicomPacsConfiguration config = settings.connectionConfiguration(settings.pacsServers()[0]);
        EXPECT_EQ(config.ownAeTitle, "OURS");
        EXPECT_EQ(config.aeTitle, "MAINAE");

        // What a settings page writes back: the list without the archive.
        Properties update;
        settings.configuration(&update);
        Properties* block = update.subProperties("pacsServers");
        ASSERT_NE(block, nullptr);
        Properties kept = *block->subProperties("Main PACS");
        block->clear();
        *block->addSubProperties("Main PACS") = kept;
        DicomPluginSettings().configure(&update);
    }
    EXPECT_EQ(DicomPluginSettings().pacsServers(), std::vector<Server>{servers[0]});
    EXPECT_EQ(DicomPluginSettings().exportQuality.value(), 75);
    EXPECT_FALSE(storedText().contains("archive"));
    EXPECT_FALSE(storedText().contains("Archive"));

    DicomPluginSettings().setPacsServers({});
    EXPECT_TRUE(DicomPluginSettings().pacsServers().empty());
    EXPECT_FALSE(storedText().contains("pacs.local"));
}

TEST_F(DicomPluginSettingsStore, UnusablePortsAndNamesAreLoggedNotStored)
{
    GlobalSettings::storeValue("Dravelin::DicomPluginSettings/pacsServers/Broken/pacsServerPort", "none");
    LogCapture log;
    const std::vector<Server> read = DicomPluginSettings().pacsServers();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].port, 104);
    EXPECT_TRUE(log.contains("invalid port", 3));

    DicomPluginSettings().setPacsServers(
        {{"", "h", 1, "A", false}, {"x", "h", 1, "A", false}, {"x", "g", 2, "B", true}});
    EXPECT_EQ(DicomPluginSettings().pacsServers(), (std::vector<Server>{{"x", "h", 1, "A", false}}));
    EXPECT_EQ(log.count("needs a name of its own", 3), 2);
}

}  // namespace
}  // namespace Dravelin
