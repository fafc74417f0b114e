#include "host/dicom/DatasetCache.h"
#include "host/dicom/HeaderReadAhead.h"
#include "host/dicom/Utils.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <chrono>
#include <thread>

using namespace Dravelin;
using namespace Dravelin::Dicom;

namespace {

std::string patientName(DcmDataset& ds)
{
    OFString name;
    ds.findAndGetOFString(DCM_PatientName, name);
    return name.c_str();
}

}  // namespace

// The bytes of a header check go to the next parse of the same file only, once, while fresh.
TEST(HeaderReadAhead, HandsTheBytesOutOnceForTheSamePathOnly)
{
    const std::string ct = Dravelin::Test::pydicomData("test_files/CT_small.dcm").toStdString();
    const std::string mr = Dravelin::Test::pydicomData("test_files/MR_small.dcm").toStdString();
    std::size_t size = 0;

    ASSERT_TRUE(Utils::hasDicomHeader(ct));
    EXPECT_EQ(HeaderReadAhead::take(mr, size), nullptr);
    EXPECT_EQ(HeaderReadAhead::take(ct, size), nullptr) << "a miss forgets the bytes";

    ASSERT_TRUE(Utils::hasDicomHeader(ct));
    const std::vector<char>* bytes = HeaderReadAhead::take(ct, size);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes->size(), std::min<std::size_t>(size, HeaderReadAhead::DefaultBytes));
    EXPECT_EQ(HeaderReadAhead::take(ct, size), nullptr);

    ASSERT_TRUE(Utils::hasDicomHeader(ct));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(HeaderReadAhead::take(ct, size), nullptr) << "stale bytes must not be used";

    // Another thread never sees this thread's bytes.
    ASSERT_TRUE(Utils::hasDicomHeader(ct));
    const std::vector<char>* elsewhere = bytes;
    std::thread([&] { elsewhere = HeaderReadAhead::take(ct, size); }).join();
    EXPECT_EQ(elsewhere, nullptr);
}

// A read says whether the file ends within the bytes asked for (a file of exactly that many
// bytes included); the bytes handed on carry the file's true size. A folder cannot be read.
TEST(HeaderReadAhead, ReadsTellWhetherTheFileEndsWithinTheBytes)
{
    constexpr std::size_t bytes = HeaderReadAhead::DefaultBytes;
    constexpr std::size_t longer = HeaderReadAhead::kLongerThanRead;
    Dravelin::Test::TempDir dir;
    const std::pair<std::size_t, std::size_t> cases[] = {
        {0, 0}, {100, 100}, {bytes, bytes}, {bytes + 1, longer}, {3 * bytes, longer}};
    for (const auto& [fileSize, readSize] : cases) {
        SCOPED_TRACE(fileSize);
        const QString file = dir.file(QString("f%1").arg(fileSize));
        ASSERT_TRUE(Dravelin::Test::writeFile(file, QByteArray(int(fileSize), 'x')));
        const std::string path = file.toStdString();
        std::size_t size = 1;
        const std::vector<char>* read = HeaderReadAhead::read(path, bytes, &size);
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(read->size(), std::min(fileSize, bytes));
        EXPECT_EQ(size, readSize);
        ASSERT_NE(HeaderReadAhead::take(path, size), nullptr);
        EXPECT_EQ(size, fileSize);
    }
    std::size_t size = 0;
    EXPECT_EQ(HeaderReadAhead::read(dir.path().toStdString(), bytes, &size), nullptr);
}

// A scan's check-then-parse gives the same dataset as a parse on its own, also for files whose
// header is longer than the bytes read ahead and for files that are not DICOM.
TEST(HeaderReadAhead, ParsesAfterACheckAgreeWithPlainParses)
{
    for (const char* name : {"CT_small.dcm", "MR_small.dcm", "rtplan.dcm", "JPEG-lossy.dcm", "no_meta.dcm"}) {
        const std::string path = Dravelin::Test::pydicomData(QString("test_files/") + name).toStdString();
        DatasetCache plainCache(4), scanCache(4);
        auto plain = plainCache.loadFromFile(path, nullptr, false);
        Utils::hasDicomHeader(path);
        auto scanned = scanCache.loadFromFile(path, nullptr, false);
        ASSERT_EQ(plain == nullptr, scanned == nullptr) << name;
        if (!plain)
            continue;
        EXPECT_EQ(patientName(*plain), patientName(*scanned)) << name;
        EXPECT_EQ(plain->card(), scanned->card()) << name;
    }
    Dravelin::Test::TempDir dir;
    ASSERT_TRUE(Dravelin::Test::writeFile(dir.file("notes.txt"), QByteArray(200, 'x')));
    EXPECT_FALSE(Utils::hasDicomHeader(dir.file("notes.txt").toStdString()));
    DatasetCache cache(4);
    EXPECT_EQ(cache.loadFromFile(dir.file("notes.txt").toStdString(), nullptr, false), nullptr);
}
