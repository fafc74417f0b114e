#include "host/dicom/DicomPluginSettings.h"
#include "host/app/GlobalSettings.h"
#include "host/core/LogCapture.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

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

// A new reader or writer starts from the loading, display and export settings, so changing one
// changes what is read (a file without the DICM preamble), kept, shown and written.
TEST_F(DicomPluginSettingsStore, ReadersAndWritersStartFromTheStoredSettings)
{
    const Dravelin::Test::TempDir data;
    ASSERT_TRUE(QDir(data.path()).mkpath("ct") && QDir(data.path()).mkpath("bare"));
    DcmFileFormat ct;
    ASSERT_TRUE(
        ct.loadFile(QFile::encodeName(Dravelin::Test::pydicomData("test_files/CT_small.dcm")).constData()).good());
    ct.getDataset()->putAndInsertString(DCM_WindowCenter, "40");
    ct.getDataset()->putAndInsertString(DCM_WindowWidth, "400");
    ASSERT_TRUE(ct.saveFile(QFile::encodeName(data.file("ct/ct.dcm")).constData()).good());
    ASSERT_TRUE(ct.getDataset()
                    ->saveFile(QFile::encodeName(data.file("bare/bare")).constData(), EXS_LittleEndianExplicit)
                    .good());
    auto load = [&data](const char* folder) { return Dravelin::Test::readDicom(data.file(folder)); };
    struct Case
    {
        int capacity;
        bool ignoreNonDicom;
        const char* window;
        const char* compression;
        int quality;
        Dicom::Compression written;
    };
    for (const Case& c : {Case{256, true, "Stored Window", "None", 90, Dicom::Compression::ImplicitLittleEndian},
                          Case{7, false, "Full Range", "JPEG-LS Lossless", 55, Dicom::Compression::JpegLsLossless},
                          Case{9, false, "Automatic", "JPEG 2000 Lossy", 20, Dicom::Compression::Jpeg2000Lossy}}) {
        SCOPED_TRACE(c.window);
        {
            DicomPluginSettings settings;
            settings.datasetCacheCapacity = c.capacity;
            settings.ignoreNonDicomFiles = c.ignoreNonDicom;
            settings.initialWindow = QString(c.window);
            settings.exportCompression = QString(c.compression);
            settings.exportQuality = c.quality;
            settings.save();
        }
        EXPECT_EQ(DicomIoAlgorithm(DicomIoAlgorithm::Read).cache()->capacity(), c.capacity);
        EXPECT_EQ(load("bare").size(), c.ignoreNonDicom ? 0u : 1u);
        const OwningDataList sets = load("ct");
        ASSERT_EQ(sets.size(), 1u);
        const SharedImageSet* set = sets.getImage();
        ASSERT_NE(set, nullptr);
        const std::pair<double, double> window(set->windowCenter(), set->windowWidth());
        if (c.window == std::string("Stored Window"))
            EXPECT_EQ(window, std::make_pair(40.0, 400.0));
        else if (c.window == std::string("Full Range"))
            EXPECT_FALSE(set->hasWindow());
        else
            EXPECT_TRUE(set->hasWindow() && window != std::make_pair(40.0, 400.0));
        const DicomIoAlgorithm writer(DicomIoAlgorithm::Write);
        EXPECT_EQ(writer.compression(), c.written);
        EXPECT_EQ(writer.compressionQuality(), c.quality);
    }
}

}  // namespace
}  // namespace Dravelin
