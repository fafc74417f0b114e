#include "editor/ConfidentialityProfile.h"
#include "editor/DicomEditorAlgorithm.h"
#include "editor/TagParameterName.h"
#include "host/app/GlobalSettings.h"
#include "host/core/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace Dravelin {
namespace {

using Dicom::TagProxy;

class ConfidentialityProfileTest : public ::testing::Test
{
protected:
    void SetUp() override { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path()); }

    Dravelin::Test::TempDir m_settings;
    Dravelin::Test::TempDir m_dir;
};

TEST(ParseTag, AcceptsBothFormsAndRejectsOthers)
{
    EXPECT_EQ(parseTag("(0010,0020)"), TagProxy(0x0010, 0x0020));
    EXPECT_EQ(parseTag("0010,0020"), TagProxy(0x0010, 0x0020));
    EXPECT_EQ(parseTag("(7FE0,0010)"), TagProxy(0x7fe0, 0x0010));
    EXPECT_EQ(parseTag("(00zz,0010)"), TagProxy(0x0000, 0x0010));  // not hexadecimal reads as 0
    EXPECT_FALSE(parseTag("00100020"));
    EXPECT_FALSE(parseTag("(0010,0020,0030)"));
    EXPECT_FALSE(parseTag("profileName"));
    EXPECT_EQ(tagParameterName(TagProxy(0x0008, 0x103e)), "(0008,103e)");
    for (const auto& [tag, code] : Dicom::tagDeidentificationActionBasicProfile())
        EXPECT_EQ(parseTag(tagParameterName(tag)), tag);
}

TEST_F(ConfidentialityProfileTest, FileRoundTrip)
{
    const QString path = m_dir.file("profile.xml");
    auto table = Dicom::tagDeidentificationActionRelaxedProfile();
    table[TagProxy(0x0010, 0x0020)] = "K";
    ASSERT_TRUE(ConfidentialityProfile::writeFile(path, QString::fromUtf8("Kopf und Hals – Müller µ"), table));
    const auto file = ConfidentialityProfile::readFile(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->name, QString::fromUtf8("Kopf und Hals – Müller µ"));
    EXPECT_EQ(file->table, table);

    ASSERT_TRUE(ConfidentialityProfile::writeFile(path, QString(), table));
    EXPECT_EQ(ConfidentialityProfile::readFile(path)->name, "");
}

TEST_F(ConfidentialityProfileTest, ReadingIgnoresUnknownParametersAndLaterDuplicatesWin)
{
    const QString path = m_dir.file("hand.xml");
    ASSERT_TRUE(Dravelin::Test::writeFile(path,
                                          "<propertyfile><property name=\"\">"
                                          "<param name=\"profileName\">Hand made</param>"
                                          "<param name=\"comment\">not a tag</param>"
                                          "<param name=\"(0010,0010)\">X</param>"
                                          "<param name=\"0010,0020\">K</param>"
                                          "<param name=\"(0010,0010)\">D</param>"
                                          "</property></propertyfile>"));
    const auto file = ConfidentialityProfile::readFile(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->name, "Hand made");
    const Dicom::DeidentificationActionTable expected{{TagProxy(0x0010, 0x0010), "D"}, {TagProxy(0x0010, 0x0020), "K"}};
    EXPECT_EQ(file->table, expected);

    // No tag action at all (a file of another kind): refused, never an empty table.
    ASSERT_TRUE(Dravelin::Test::writeFile(path,
                                          "<propertyfile><property name=\"\"><param name=\"profileName\">Empty</param>"
                                          "<param name=\"(0010)\">X</param></property></propertyfile>"));
    EXPECT_FALSE(ConfidentialityProfile::readFile(path));
}

TEST_F(ConfidentialityProfileTest, LoadByNameFallsBackToBasic)
{
    LogCapture log;
    EXPECT_EQ(ConfidentialityProfile::load("Basic Profile", {})->table, Dicom::tagDeidentificationActionBasicProfile());
    EXPECT_EQ(ConfidentialityProfile::load("Relaxed Profile", {})->table,
              Dicom::tagDeidentificationActionRelaxedProfile());
    const auto missing = ConfidentialityProfile::load("Mine", m_dir.file("nope.xml"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->name, "Basic Profile");
    EXPECT_TRUE(log.contains("Invalid profile selection: Mine (" + m_dir.file("nope.xml").toStdString() + ")", 4));
    ASSERT_TRUE(Dravelin::Test::writeFile(m_dir.file("broken.xml"), "<propertyfile><property"));
    EXPECT_FALSE(ConfidentialityProfile::load("Mine", m_dir.file("broken.xml")));
    EXPECT_TRUE(log.contains("Could not load " + m_dir.file("broken.xml").toStdString(), 4));
}

TEST_F(ConfidentialityProfileTest, NameAndPathComeFromAndGoToTheSettings)
{
    {
        ConfidentialityProfile fresh;
        EXPECT_EQ(fresh.profileName.value(), "Basic Profile");
        EXPECT_EQ(fresh.profilePath.value(), "");
        fresh.setTable("Custom Profile", "/some/file.xml", {{TagProxy(0x0010, 0x0010), "K"}});
    }
    EXPECT_EQ(GlobalSettings::loadValue(ConfidentialityProfile::profileNameKey).toString(), "Custom Profile");
    ConfidentialityProfile remembered;
    EXPECT_EQ(remembered.profileName.value(), "Custom Profile");
    EXPECT_EQ(remembered.profilePath.value(), "/some/file.xml");
    EXPECT_TRUE(remembered.tagParameters().empty());
    // A table without a file (an edited preset) is kept in the settings and loaded by its name.
    const Dicom::DeidentificationActionTable edited{{TagProxy(0x0010, 0x0010), "K"}};
    remembered.setTable("Custom Profile", QString(), edited);
    const auto loaded = ConfidentialityProfile::load("Custom Profile", QString());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->table, edited);
}

TEST_F(ConfidentialityProfileTest, AlgorithmCarriesTheProfileAsSubBlock)
{
    DicomEditorAlgorithm algorithm;
    algorithm.confidentialityProfile->setTable("Relaxed Profile", {}, Dicom::tagDeidentificationActionRelaxedProfile());
    EXPECT_EQ(algorithm.actionTable(), Dicom::tagDeidentificationActionRelaxedProfile());

    Properties p;
    algorithm.configuration(&p);
    const Properties* block = p.subProperties("confidentialityProfile");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->param("profileName").toString(), "Relaxed Profile");
    EXPECT_EQ(block->param("(0008,1030)").toString(), "K");
    EXPECT_EQ(block->params().size(), 2 + Dicom::tagDeidentificationActionRelaxedProfile().size());

    DicomEditorAlgorithm other;
    other.confidentialityProfile->clearTags();
    other.configure(&p);
    EXPECT_EQ(other.confidentialityProfile->profileName.value(), "Relaxed Profile");
    EXPECT_EQ(other.actionTable(), Dicom::tagDeidentificationActionRelaxedProfile());

    // configure() appends; for one tag the later entry decides.
    Properties extra;
    extra.addSubProperties("confidentialityProfile")->addParam("(0008,1030)", "X");
    other.configure(&extra);
    EXPECT_EQ(other.actionTable().at(TagProxy(0x0008, 0x1030)), "X");
    Properties empty;
    other.configure(&empty);  // no block: nothing changes
    EXPECT_EQ(other.actionTable().at(TagProxy(0x0008, 0x1030)), "X");
}

}  // namespace
}  // namespace Dravelin
