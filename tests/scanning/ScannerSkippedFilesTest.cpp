#include "scanning/Scanner.h"
#include "tests/scanning/ScannerTestFiles.h"
#include "tests/support/HostileData.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

using namespace Dravelin::Dicom;
namespace T = Dravelin::Test;

namespace {

using Reasons = std::map<QString, Scanner::SkipReason>;

Reasons skippedFiles(const QString& dir, bool checkHeader)
{
    Scanner scanner(nullptr);
    std::mutex mutex;
    Reasons reasons;
    scanner.setNumberOfThreads(4);
    scanner.setSkippedFileHandler([&](const QString& path, Scanner::SkipReason reason) {
        std::lock_guard<std::mutex> lock(mutex);
        reasons[path.section('/', -1)] = reason;
    });
    scanner.scanDirectory(dir, true, false, checkHeader);
    return reasons;
}

}  // namespace

// Every file that gives no record is reported once, with why; good files are not.
TEST(ScannerSkippedFiles, EveryFileLeftOutIsReportedWithItsReason)
{
    T::TempDir dir;
    ASSERT_TRUE(T::writeImage(dir.file("good.dcm"), T::ImageFields()));
    const QByteArray bytes = T::readFile(dir.file("good.dcm"));
    ASSERT_TRUE(T::writeFile(dir.file("notes.txt"), "hello"));
    ASSERT_TRUE(T::writeFile(dir.file("empty.dcm"), ""));
    // Cut inside the patient name: the element says it is longer than what is left.
    ASSERT_TRUE(T::writeFile(dir.file("truncated.dcm"), bytes.left(bytes.indexOf("DOE^JANE") + 3)));
    // A whole file the readers refuse for its structure (StructureCheck's flags tell which refusal).
    ASSERT_TRUE(T::writeFile(dir.file("deep.dcm"),
                             T::HostileData::nestedSequences(5650, T::HostileData::Nesting::ExplicitLittle)));

    const auto NotDicom = Scanner::SkipReason::NotDicom;
    const Reasons expected = {{"notes.txt", NotDicom},
                              {"empty.dcm", NotDicom},
                              {"truncated.dcm", Scanner::SkipReason::Truncated},
                              {"deep.dcm", Scanner::SkipReason::TooDeep}};
    EXPECT_EQ(skippedFiles(dir.path(), true), expected);
    EXPECT_EQ(skippedFiles(dir.path(), false), expected);
}
