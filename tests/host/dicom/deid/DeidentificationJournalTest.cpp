#include "host/dicom/deid/DeidentificationJournal.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

namespace Dravelin::Dicom {
namespace {

namespace T = Dravelin::Test;

// A run that crashed (journal left, its last line cut short) resumes with its mapping and its
// files; a failed append leaves no half line and its mapping goes with the next one.
TEST(DeidentificationJournal, ResumesWhatWasRecordedWhole)
{
    T::TempDir dir;
    const DeidentificationJournal::Settings settings{{"input", "/in"}, {"profile", "Basic Profile"}};
    UidMap uids;
    const std::string study = uids.replacement("1.2.3");
    const std::string patient = uids.patientId("Doe\tJane/\xc3\xbc\n");
    QString error;
    {
        auto journal = DeidentificationJournal::create(dir.path(), settings, &error);
        ASSERT_TRUE(journal) << error.toStdString();
        EXPECT_EQ(QFile::permissions(DeidentificationJournal::pathIn(dir.path())),
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        EXPECT_FALSE(DeidentificationJournal::create(dir.path(), settings, &error));

        // The disk full: nothing of the append stays, the mapping waits for the next one.
        struct rlimit saved;
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        const qint64 size = QFileInfo(DeidentificationJournal::pathIn(dir.path())).size();
        struct rlimit full = saved;
        full.rlim_cur = rlim_t(size + 40);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
        EXPECT_FALSE(journal->recordPending({{"a/1.dcm", "2.25.1"}}, uids, &error));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
        EXPECT_EQ(QFileInfo(DeidentificationJournal::pathIn(dir.path())).size(), size);

        ASSERT_TRUE(journal->recordPending({{"a/1.dcm", "2.25.1"}, {"a/2.dcm", "2.25.2"}}, uids, &error));
        journal->recordDone({"a/1.dcm"});
    }
    QFile file(DeidentificationJournal::pathIn(dir.path()));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("done\ta/2.d");
    file.close();

    UidMap other;
    EXPECT_FALSE(DeidentificationJournal::resume(dir.path(), {{"input", "/elsewhere"}}, other, &error));
    EXPECT_TRUE(error.contains("was started with input /in, not /elsewhere")) << error.toStdString();
    UidMap resumed;
    auto journal = DeidentificationJournal::resume(dir.path(), settings, resumed, &error);
    ASSERT_TRUE(journal) << error.toStdString();
    EXPECT_EQ(resumed.find("1.2.3"), study);
    EXPECT_EQ(resumed.patientId("Doe\tJane/\xc3\xbc\n"), patient);
    EXPECT_TRUE(journal->isDone("a/1.dcm"));
    EXPECT_FALSE(journal->isDone("a/2.dcm"));
    EXPECT_EQ(journal->pendingUid("a/2.dcm"), "2.25.2");
    journal->recordDone({"a/2.dcm"});  // on a line of its own
    journal.reset();
    journal = DeidentificationJournal::resume(dir.path(), settings, resumed, &error);
    ASSERT_TRUE(journal) << error.toStdString();
    EXPECT_TRUE(journal->isDone("a/2.dcm"));
    EXPECT_TRUE(journal->remove());
    EXPECT_FALSE(DeidentificationJournal::existsIn(dir.path()));
}

}  // namespace
}  // namespace Dravelin::Dicom
