#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/dimse/PacsRetriever.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <gtest/gtest.h>

using Dravelin::DicomPacsConfiguration;
using Dravelin::Dicom::PacsRetriever;
using Dravelin::Filesystem::Url;

TEST(DicomPacsConfiguration, ValidityBoundaries)
{
    auto with = [](auto change) {
        DicomPacsConfiguration config("127.0.0.1", 11112, "AE", false);
        change(config);
        return config.isValid();
    };
    EXPECT_FALSE(DicomPacsConfiguration().isValid());
    EXPECT_FALSE(with([](auto& c) { c.hostname.clear(); }));
    EXPECT_FALSE(with([](auto& c) { c.port = 0; }));
    EXPECT_TRUE(with([](auto& c) { c.port = 65535; }));
    EXPECT_FALSE(with([](auto& c) { c.port = 65536; }));
    EXPECT_TRUE(with([](auto& c) { c.aeTitle = std::string(16, 'A'); }));
    EXPECT_FALSE(with([](auto& c) { c.aeTitle = std::string(17, 'A'); }));
    EXPECT_FALSE(with([](auto& c) { c.aeTitle = "    "; }));
    EXPECT_FALSE(with([](auto& c) { c.aeTitle = "A\\B"; }));
    EXPECT_FALSE(with([](auto& c) { c.ownAeTitle.clear(); }));
    EXPECT_FALSE(with([](auto& c) { c.ownPort = -1; }));
    EXPECT_FALSE(with([](auto& c) { c.dimseTimeoutSeconds = 0; }));
}

TEST(DicomPacsConfiguration, InstanceUriRoundTrip)
{
    DicomPacsConfiguration config("127.0.0.1", 4242, "MY AE&#1", false);
    config.ownAeTitle = "CLIENT=X";
    config.ownPort = 11119;
    config.dimseTimeoutSeconds = 5;
    DcmDataset response;
    response.putAndInsertString(DCM_StudyInstanceUID, "1.2.3");
    response.putAndInsertString(DCM_SeriesInstanceUID, "1.2.3.4");
    response.putAndInsertString(DCM_SOPInstanceUID, "1.2.3.4.5");
    response.putAndInsertString(DCM_SOPClassUID, "1.2.840.10008.5.1.4.1.1.2");

    const Url url = config.generateUri(response);
    EXPECT_EQ(url.scheme(), "pacs");
    // The location survives its text form (location strings are text).
    const Url reread(url.string(Url::LoaderEncoded));
    EXPECT_EQ(DicomPacsConfiguration::fromUri(reread), config);

    const auto target = PacsRetriever::targetOf(reread);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->level, Dravelin::DicomPacsCommunication::Level::Instance);
    EXPECT_EQ(target->studyUid, "1.2.3");
    EXPECT_EQ(target->seriesUid, "1.2.3.4");
    EXPECT_EQ(target->sopInstanceUid, "1.2.3.4.5");
    EXPECT_EQ(target->sopClassUid, "1.2.840.10008.5.1.4.1.1.2");

    const auto series = PacsRetriever::targetOf(PacsRetriever::seriesUrlOf(reread));
    ASSERT_TRUE(series);
    EXPECT_EQ(series->level, Dravelin::DicomPacsCommunication::Level::Series);
    EXPECT_EQ(series->seriesUid, "1.2.3.4");
    EXPECT_TRUE(series->sopInstanceUid.empty());
}

TEST(DicomPacsConfiguration, ServerOnlyUriAndForeignUrls)
{
    const DicomPacsConfiguration config("10.0.0.7", 104, "ARCHIVE", true);
    const Url server = config.generateUri();
    EXPECT_EQ(DicomPacsConfiguration::fromUri(server), config);
    EXPECT_FALSE(PacsRetriever::targetOf(server));  // names no study

    EXPECT_FALSE(DicomPacsConfiguration::fromUri(Url(std::string("http://127.0.0.1:8042/dicom-web"))).isValid());
    EXPECT_FALSE(DicomPacsConfiguration::fromUri(Url::fromLocalFile(std::string("/tmp/x.dcm"))).isValid());
    EXPECT_FALSE(DicomPacsConfiguration::fromUri(Url(std::string("pacs://host:104/"))).isValid());  // no AE
    EXPECT_FALSE(DicomPacsConfiguration::fromUri(Url(std::string("pacs://host:104/AE?callingPort=12ab"))).isValid());
}

TEST(DicomPacsConfiguration, ResponseUidPaddingIsTrimmed)
{
    const DicomPacsConfiguration config("127.0.0.1", 4242, "AE", true);
    DcmDataset response;
    response.putAndInsertOFStringArray(DCM_StudyInstanceUID, OFString("1.2.3\0", 6));
    response.putAndInsertString(DCM_SeriesInstanceUID, "1.2.3.4 ");
    const auto target = PacsRetriever::targetOf(config.generateUri(response));
    ASSERT_TRUE(target);
    EXPECT_EQ(target->studyUid, "1.2.3");
    EXPECT_EQ(target->seriesUid, "1.2.3.4");
    EXPECT_EQ(target->level, Dravelin::DicomPacsCommunication::Level::Series);
}
