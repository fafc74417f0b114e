#include "host/dicom/dicomweb/WebClient.h"
#include "tests/host/dicom/dicomweb/WebTestItems.h"
#include "tests/support/PacsTestServer.h"

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <map>

namespace Dravelin::Dicom {
namespace {

using WebTest::itemsOf;
using WebTest::text;

TEST(WebClientOrthanc, WalksTheWholeArchiveAndConvertsItsAttributes)
{
    Dravelin::Test::PacsTestServer server(Dravelin::Test::PacsTestServer::Kind::Orthanc,
                                          Dravelin::Test::PacsTestServer::Options::withDicomWeb());
    ASSERT_TRUE(server.startWithCorpus()) << server.errorText().toStdString();
    WebClient client(Filesystem::Url(server.dicomWebUrl()));

    auto studies = itemsOf(client.getStudies("", true));
    ASSERT_EQ(studies.size(), 9u);
    size_t seriesCount = 0, instanceCount = 0;
    std::shared_ptr<DcmItem> pilot;
    for (const auto& study : studies) {
        auto series = itemsOf(client.getSeries(*study, "", true));
        seriesCount += series.size();
        for (const auto& one : series) {
            auto instances = itemsOf(client.getInstances(*one, "includefield=00200032&includefield=00080008", false));
            instanceCount += instances.size();
            for (const auto& instance : instances)
                if (text(*instance, DCM_SOPInstanceUID) == "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.19")
                    pilot = instance;
        }
    }
    EXPECT_EQ(seriesCount, 16u);
    EXPECT_EQ(instanceCount, 83u);

    ASSERT_TRUE(pilot);
    EXPECT_EQ(text(*pilot, DCM_SpecificCharacterSet), "ISO_IR 192");
    EXPECT_EQ(text(*pilot, DCM_PatientName), "Doe^Peter");
    EXPECT_EQ(text(*pilot, DCM_StudyInstanceUID), "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.1");
    EXPECT_EQ(text(*pilot, DCM_SeriesInstanceUID), "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.17");
    EXPECT_EQ(text(*pilot, DCM_ImageType), "ORIGINAL\\PRIMARY\\OTHER");
    EXPECT_EQ(text(*pilot, DCM_InstanceNumber), "2");
    EXPECT_EQ(text(*pilot, DCM_ImagePositionPatient), "-0.696426\\-146.2891\\161.2891");
    Uint16 rows = 0;
    EXPECT_TRUE(pilot->findAndGetUint16(DCM_Rows, rows).good());
    EXPECT_EQ(rows, 16);
    EXPECT_EQ(text(*pilot, DCM_RetrieveURL), server.dicomWebUrl() +
                                                 "/studies/1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.1/series/"
                                                 "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.17/instances/"
                                                 "1.3.6.1.4.1.5962.1.1.0.0.0.1196533885.18148.0.19");

    // Filters reach the server; the fuzzy-matching flag is accepted alongside.
    auto peter = itemsOf(client.getStudies("PatientName=doe*", true));
    EXPECT_EQ(peter.size(), 6u);
    // Person name components and wildcards arrive as the server expects them.
    for (const char* query : {"PatientName=Doe^Peter", "PatientName=Doe%5EPeter", "PatientName=Doe^P*"})
        EXPECT_EQ(itemsOf(client.getStudies(query, false)).size(), 4u) << query;
    std::map<std::string, int> byDate;
    for (const auto& study : itemsOf(client.getStudies("StudyDate=20010101", false)))
        ++byDate[text(*study, DCM_PatientName)];
    EXPECT_EQ(byDate, (std::map<std::string, int>{{"Doe^Archibald", 1}, {"Doe^Peter", 1}}));
}

}  // namespace
}  // namespace Dravelin::Dicom
