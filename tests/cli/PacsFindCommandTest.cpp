#include "tests/support/CliRun.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"


#include <gtest/gtest.h>

namespace T = Dravelin::Test;

// The end-to-end case: an Orthanc holding the corpus gives, study by study and then resolved,
// what `scan --json` gives for the same files on disk.
TEST(PacsFindCommand, StudySearchLeavesPlaceholdersAndSeriesResolvesThemAsOnDisk)
{
    T::PacsTestServer server(T::PacsTestServer::Kind::Orthanc);
    ASSERT_TRUE(server.startWithCorpus()) << server.errorText().toStdString();
    const QJsonArray disk = T::diskScanOfPacsCorpus();
    QJsonArray diskDoe;
    for (const QJsonValue& p : disk)
        if (p["patientName"].toString().startsWith("Doe^"))
            diskDoe.append(p);
    const auto pacsFind = [&](const QStringList& args) {
        return T::runCli(QStringList{"pacs-find", "--host", "127.0.0.1", "--port", QString::number(server.port()),
                                     "--aec", QString::fromStdString(server.options().aeTitle), "--aet",
                                     QString::fromStdString(server.options().clientAeTitle)} +
                         args);
    };

    // Doe^Peter and Doe^Archibald; Citizen^Jan and the compressed samples do not match.
    const T::CliResult studies = pacsFind({"--patient", "Doe*", "--json"});
    ASSERT_EQ(studies.exitCode, 0) << studies.err.toStdString();
    EXPECT_EQ(T::treeCounts(T::jsonPatients(studies.out)), (T::TreeCounts{2, 6, 0, 0}));
    EXPECT_EQ(studies.errLines(), QStringList{studies.err.trimmed()});
    EXPECT_TRUE(studies.err.startsWith("2 patients, 6 studies, 0 series, 0 images, PACS TESTPACS, "))
        << studies.err.toStdString();
    // A name nobody has is an empty result, not an error.
    const T::CliResult none = pacsFind({"--patient", "Nobody*", "--json"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(T::jsonPatients(none.out).size(), 0);

    const T::CliResult all = pacsFind({"--series", "--json"});
    ASSERT_EQ(all.exitCode, 0) << all.err.toStdString();
    const QJsonArray patients = T::jsonPatients(all.out);
    EXPECT_EQ(T::imageKeys(patients, false), T::imageKeys(disk, false));  // in the same order too
    EXPECT_TRUE(all.err.startsWith("5 patients, 9 studies, 16 series, 83 images, PACS TESTPACS, "))
        << all.err.toStdString();
    for (const QJsonValue& p : patients)
        for (const QJsonValue& study : p["studies"].toArray())
            for (const QJsonValue& series : study["series"].toArray()) {
                const QJsonArray images = series["images"].toArray();
                for (int i = 0; i < images.size(); ++i) {
                    EXPECT_TRUE(images[i]["location"].toString().startsWith("pacs://"))
                        << images[i]["location"].toString().toStdString();
                    if (i > 0) {
                        EXPECT_LT(images[i - 1]["instanceNumber"].toInt(), images[i]["instanceNumber"].toInt());
                    }
                }
            }

    const T::CliResult doe = pacsFind({"--patient", "Doe*", "--series", "--json"});
    ASSERT_EQ(doe.exitCode, 0) << doe.err.toStdString();
    EXPECT_EQ(T::imageKeys(T::jsonPatients(doe.out)), T::imageKeys(diskDoe));

    const T::CliResult noImages = pacsFind({"--patient", "Doe^Peter", "--series", "--no-images"});
    EXPECT_EQ(noImages.exitCode, 0);
    EXPECT_TRUE(noImages.out.contains("Series")) << noImages.out.toStdString();
    EXPECT_FALSE(noImages.out.contains("pacs://")) << noImages.out.toStdString();
}

TEST(PacsFindCommandFaults, UnreachableServerFailsFastWithOneLine)
{
    const int port = T::freeLoopbackPort();
    const T::CliResult r = T::runCli(
        {"pacs-find", "--host", "127.0.0.1", "--port", QString::number(port), "--aec", "NOBODY", "--series", "--json"},
        30000);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    ASSERT_EQ(r.errLines().size(), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith("dravelin-dicom pacs-find: NOBODY@127.0.0.1:" + QString::number(port) + ": "))
        << r.err.toStdString();
}
