#include "host/core/LogCapture.h"
#include "host/dicom/DatasetCache.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/ScannerQt.h"
#include "scanning/Series.h"
#include "scanning/Study.h"
#include "tests/scanning/ScannerTestFiles.h"
#include "tests/scanning/TestDatasets.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTextCodec>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <set>

using namespace Dravelin;
using namespace Dravelin::Dicom;
namespace T = Dravelin::Test;
using T::imageCount;
using T::ImageFields;
using T::RecordFields;
using T::TempDir;

namespace {

// A file of its own ("not dicom" unless given), in folders made as needed.
void touch(const QString& path, const QByteArray& content = "not dicom")
{
    ASSERT_TRUE(T::writeFile(path, content));
}

class RecordingScanner : public Scanner
{
public:
    RecordingScanner() : Scanner(nullptr) {}

    std::vector<std::pair<int, int>> progress() const { return locked(m_progress); }
    std::vector<std::string> texts() const { return locked(m_texts); }
    std::function<void(int, int)> onProgress;

protected:
    void updateProgress(int value, int maximum) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_progress.emplace_back(value, maximum);
        }
        if (onProgress)
            onProgress(value, maximum);
    }
    void updateProgressText(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts.push_back(text);
    }

private:
    template <typename V>
    V locked(const V& v) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return v;
    }
    mutable std::mutex m_mutex;
    std::vector<std::pair<int, int>> m_progress;
    std::vector<std::string> m_texts;
};

QStringList relativeNames(const QList<QFileInfo>& files, const QString& root)
{
    QStringList names;
    for (const QFileInfo& f : files)
        names << QDir(root).relativeFilePath(f.absoluteFilePath());
    return names;
}

// series UID (or, for DICOMDIR records without it, the first file) -> canonical image file paths
std::map<QString, std::set<QString>> imagesBySeries(const std::vector<Patient*>& patients)
{
    std::map<QString, std::set<QString>> result;
    for (const Patient* p : patients)
        for (const Study* s : p->studies)
            for (const Series* r : s->series)
                for (const Image* i : r->images)
                    result[p->patientId + "/" + s->studyInstanceUid + "/" + r->seriesInstanceUid].insert(
                        QFileInfo(QString::fromStdString(i->location.localFilePath())).canonicalFilePath());
    return result;
}

const QString dicomdirTests = T::pydicomData("test_files/dicomdirtests");

}  // namespace

// --- listing -----------------------------------------------------------------------------------

// Natural order across folders; DICOMDIRs (any case) are no files of their own, and the
// DICOMDIR-only listing takes the top one alone, or those of the subfolders.
TEST(ScannerListing, NaturalOrderAndDicomdirs)
{
    struct Case
    {
        QStringList files;
        bool recursive, dicomdirOnly;
        QStringList listed;
    };
    const QStringList plain{"img10.dcm", "img2.dcm", "img1.dcm", "s10/a.dcm", "s2/a.dcm", "s2/b1.dcm"};
    const QStringList nested{"cd10/dicomdir", "cd2/DICOMDIR", "cd2/deeper/DICOMDIR", "loose.dcm"};
    const Case cases[] = {
        {plain, true, false, {"img1.dcm", "img2.dcm", "img10.dcm", "s2/a.dcm", "s2/b1.dcm", "s10/a.dcm"}},
        {plain, false, false, {"img1.dcm", "img2.dcm", "img10.dcm"}},
        {{"dicomdir", "sub/DicomDir", "sub/x.dcm", "DICOMDIR.bak"}, true, false, {"DICOMDIR.bak", "sub/x.dcm"}},
        {{"DICOMDIR", "a.dcm", "sub/DICOMDIR", "sub/b.dcm"}, true, true, {"DICOMDIR"}},
        {nested, true, true, {"cd2/DICOMDIR", "cd10/dicomdir"}},
        {nested, false, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files.join(' ').toStdString() + (c.recursive ? " recursive" : "") +
                     (c.dicomdirOnly ? " DICOMDIR only" : ""));
        TempDir dir;
        for (const QString& name : c.files)
            touch(dir.file(name));
        RecordingScanner scanner;
        EXPECT_EQ(relativeNames(scanner.retrieveFileList(QDir(dir.path()), c.recursive, c.dicomdirOnly, 0), dir.path()),
                  c.listed);
        // Listing progress: (0, entries) first, then one step per top-level entry.
        if (&c == cases) {
            ASSERT_FALSE(scanner.progress().empty());
            EXPECT_EQ(scanner.progress().front(), std::make_pair(0, 5));
        }
    }
}

// Two threads list the root's subfolders apart; where links join them, one thread lists again.
TEST(ScannerListing, SymbolicLinkLoopsAreListedOnceByOneOrTwoThreads)
{
    TempDir dir;
    for (const char* name : {"a/file1.dcm", "top.dcm", "c/deep/file2.dcm", "c/deep/file10.dcm", "d/file3.dcm"})
        touch(dir.file(name));
    ASSERT_TRUE(QFile::link(dir.path(), dir.file("a/up")));            // a/up -> the root: a loop
    ASSERT_TRUE(QFile::link(dir.file("c"), dir.file("c/deep/back")));  // a loop inside c
    TempDir joined;
    touch(joined.file("a/file1.dcm"));
    ASSERT_TRUE(QDir().mkpath(joined.file("c")));
    ASSERT_TRUE(QFile::link(joined.file("a"), joined.file("b")));      // b -> a: the same folder twice
    ASSERT_TRUE(QFile::link(joined.file("a"), joined.file("c/toa")));  // c reaches a
    const QStringList expected[] = {{"a/file1.dcm", "c/deep/file2.dcm", "c/deep/file10.dcm", "d/file3.dcm", "top.dcm"},
                                    {"a/file1.dcm"}};
    int folder = 0;
    for (const TempDir* root : {&dir, &joined}) {
        for (int threads : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "tree " << folder << ", threads " << threads);
            RecordingScanner scanner;
            scanner.setNumberOfThreads(threads);
            EXPECT_EQ(relativeNames(scanner.retrieveFileList(QDir(root->path()), true, false, 0), root->path()),
                      expected[folder]);
        }
        ++folder;
    }
}

// --- folder scan -------------------------------------------------------------------------------

TEST(ScannerFolder, EmptyFolderLogsAndReportsZeroProgress)
{
    TempDir dir;
    LogCapture log;
    RecordingScanner scanner;
    scanner.scanDirectory(dir.path(), true, false, true);
    EXPECT_TRUE(log.contains("No files found in directory '" + dir.path().toStdString() + "'.", 2));
    EXPECT_EQ(scanner.progress().back(), std::make_pair(0, 0));
    EXPECT_TRUE(scanner.patients().empty());

    scanner.scanDirectory(dir.path(), false, true, true);
    EXPECT_TRUE(log.contains("No DICOMDIR files found in directory '" + dir.path().toStdString() + "'.", 2));
}

TEST(ScannerFolder, ThreadCountIsClampedAndDefaultsToThreeQuarters)
{
    RecordingScanner scanner;
    for (const auto& [asked, used] : {std::pair{0, 1}, {-3, 1}, {5, 5}}) {
        scanner.setNumberOfThreads(asked);
        EXPECT_EQ(scanner.numberOfThreads(), used);
    }
    for (const auto& [m, expected] : {std::pair{1, 1}, {2, 1}, {3, 2}, {4, 3}, {8, 6}, {16, 12}})
        EXPECT_EQ(Scanner::defaultNumberOfThreads(m), expected) << "m = " << m;
    EXPECT_EQ(RecordingScanner().numberOfThreads(), Scanner::defaultNumberOfThreads());
}

TEST(ScannerFolder, BadFilesCountTowardsProgressAndAddNothing)
{
    TempDir dir;
    ImageFields fields;
    ASSERT_TRUE(T::writeImage(dir.file("good.dcm"), fields));
    touch(dir.file("junk.txt"), "hello");
    touch(dir.file("empty.dcm"), "");
    const QByteArray good = T::readFile(dir.file("good.dcm"));
    touch(dir.file("truncated.dcm"), good.left(200));  // cut inside the file meta
    touch(dir.file("noheader.dcm"), good.mid(200));    // a data set without preamble and "DICM"

    RecordingScanner scanner;
    scanner.scanDirectory(dir.path(), true, false, true);
    EXPECT_EQ(imageCount(scanner.patients()), 1);
    EXPECT_EQ(scanner.progress().back(), std::make_pair(5, 5));
}

TEST(ScannerFolder, CancelFromAnotherThreadStopsTheParallelPhase)
{
    TempDir dir;
    const int n = 600;
    QDir().mkpath(dir.file("sub"));
    ImageFields fields;
    for (int i = 1; i <= n; ++i) {
        fields.instanceNumber = i;
        // One folder level down, so that only the parallel phase reports a maximum of n.
        ASSERT_TRUE(T::writeImage(dir.file(QString("sub/img%1.dcm").arg(i)), fields));
    }
    RecordingScanner scanner;
    scanner.setNumberOfThreads(2);
    // Cancelled from a worker while the parallel phase runs, however fast the machine is.
    scanner.onProgress = [&](int value, int maximum) {
        if (maximum == n && value == 20)
            scanner.cancel();
    };
    scanner.scanDirectory(dir.path(), true, false, true);
    int maxValue = 0;
    for (const auto& [value, maximum] : scanner.progress())
        if (maximum == n)
            maxValue = std::max(maxValue, value);
    // Files already in hand finish, and a thread may read on while the one that counted the
    // 20th file waits to report it: far from all files, but not an exact count.
    EXPECT_LT(maxValue, n / 2);
    EXPECT_LT(imageCount(scanner.patients()), n / 2);

    // A cancel between scans does not affect the next scan.
    scanner.onProgress = nullptr;
    scanner.cancel();
    scanner.takePatients();
    scanner.scanDirectory(dir.path(), true, false, true);
    EXPECT_EQ(imageCount(scanner.patients()), n);
}

// The files of a series are merged in batches: equal numbers still end up as merging the
// files one by one puts them (a later file before an earlier one).
TEST(ScannerFolder, BatchesKeepTheOrderOfFileByFileMerging)
{
    TempDir dir;
    ImageFields fields;
    const int numbers[] = {2, 1, 2, 1, 3};
    for (int i = 0; i < 5; ++i) {
        fields.instanceNumber = numbers[i];
        ASSERT_TRUE(T::writeImage(dir.file(QString("img%1.dcm").arg(i + 1)), fields));
    }
    RecordingScanner scanner;
    scanner.setNumberOfThreads(1);
    scanner.scanDirectory(dir.path(), true, false, true);
    QStringList files;
    for (const Series* series : T::allSeries(scanner.patients()))
        for (const Image* image : series->images)
            files << QString::fromStdString(image->location.string()).section('/', -1);
    EXPECT_EQ(files, QStringList({"img4.dcm", "img2.dcm", "img3.dcm", "img1.dcm", "img5.dcm"}));
}

TEST(ScannerFolder, ScannerQtQueuesPatientsUnmergedAndSignals)
{
    TempDir dir;
    ImageFields fields;
    ASSERT_TRUE(T::writeImage(dir.file("a.dcm"), fields));
    fields.instanceNumber = 2;
    ASSERT_TRUE(T::writeImage(dir.file("b.dcm"), fields));
    fields.seriesUid += ".2";
    ASSERT_TRUE(T::writeImage(dir.file("c.dcm"), fields));
    ScannerQt scanner(nullptr);
    scanner.setNumberOfThreads(1);
    QSignalSpy added(&scanner, &ScannerQt::patientAdded);
    QSignalSpy range(&scanner, &ScannerQt::progressRangeChanged);
    QSignalSpy value(&scanner, &ScannerQt::progressValueChanged);
    QSignalSpy text(&scanner, &ScannerQt::progressTextChanged);
    scanner.scanDirectory(dir.path(), true, false, true);
    // The files of one series arrive as one tree; the receiver merges the trees.
    EXPECT_EQ(added.count(), 2);
    ASSERT_EQ(scanner.patients().size(), 2u);
    EXPECT_EQ(T::imageCount(scanner.patients()), 3);
    EXPECT_EQ(T::allSeries(scanner.patients()).size(), 2u);
    ASSERT_FALSE(range.isEmpty());
    EXPECT_EQ(range.last(), QVariantList({0, 3}));
    EXPECT_EQ(value.last(), QVariantList({3}));
    ASSERT_EQ(text.count(), 1);
    EXPECT_EQ(text[0][0].toString(), "Retrieving files...");
    EXPECT_EQ(scanner.takePatients().size(), 2u);
}

TEST(ScannerFolder, DicomdirFilesInsideFoldersAreRead)
{
    RecordingScanner scanner;
    scanner.scanDirectory(dicomdirTests, false, true, true);
    EXPECT_EQ(scanner.patients().size(), 2u);
    EXPECT_EQ(imageCount(scanner.patients()), 31);
}

TEST(ScannerFolder, DicomdirsUnderOtherNamesAddNoImages)
{
    // DICOMDIR-bigEnd, -implicit, -nooffset, ... beside the file set's own DICOMDIR.
    RecordingScanner scanner;
    scanner.scanDirectory(dicomdirTests, false, false, true);
    EXPECT_TRUE(scanner.patients().empty());
    DatasetCache cache;
    EXPECT_TRUE(cache.load(Filesystem::Url::fromLocalFile(dicomdirTests), nullptr, nullptr, false).empty());
}

// --- DICOMDIR ----------------------------------------------------------------------------------

// One step per record; the records themselves are those of the folder scan (below).
TEST(ScannerDicomdir, PydicomFileSetReportsProgressPerRecord)
{
    RecordingScanner scanner;
    scanner.scanDicomDir(dicomdirTests + "/DICOMDIR");
    const auto progress = scanner.progress();
    ASSERT_FALSE(progress.empty());
    const int r = progress.front().second;
    ASSERT_GT(r, 0);
    std::vector<std::pair<int, int>> expected;
    for (int i = 0; i <= r; ++i)
        expected.emplace_back(i, r);
    EXPECT_EQ(progress, expected);
    EXPECT_EQ(scanner.texts(), std::vector<std::string>({"Processing files..."}));
}

TEST(ScannerDicomdir, SameTreeAsScanningTheFolder)
{
    RecordingScanner fromDicomdir;
    fromDicomdir.scanDicomDir(dicomdirTests + "/DICOMDIR");
    RecordingScanner fromFolder;
    for (const char* sub : {"77654033", "98892001", "98892003"})
        fromFolder.scanDirectory(dicomdirTests + "/" + sub, true, false, true);
    // Merged across the three scans; patients, studies and series keyed by their UIDs.
    const auto expected = imagesBySeries(fromFolder.patients());
    EXPECT_EQ(expected.size(), 13u);
    EXPECT_EQ(imagesBySeries(fromDicomdir.patients()), expected);
}

TEST(ScannerDicomdir, HandMadeRecordsAndHostileFileIds)
{
    TempDir dir;
    using V = std::vector<std::pair<DcmTagKey, std::string>>;
    RecordFields lonely{ERT_Patient, V{{DCM_PatientID, "LONELY"}, {DCM_PatientName, "NO^STUDIES"}}, {}};
    RecordFields nonImages{ERT_Series,
                           V{{DCM_SeriesInstanceUID, "1.2.3.2"}, {DCM_Modality, "SR"}},
                           {{ERT_SRDocument, V{{DCM_ReferencedFileID, "SR\\1"}}, {}},
                            {ERT_Presentation, V{{DCM_ReferencedFileID, "PR\\1"}}, {}}}};
    RecordFields images{ERT_Series,
                        V{{DCM_SeriesInstanceUID, "1.2.3.1"}, {DCM_Modality, "CT"}},
                        {T::imageRecord("IMAGES\\IM0001", "1"), T::imageRecord("..\\..\\etc\\passwd", "2"),
                         T::imageRecord("\\etc\\passwd", "3"), T::imageRecord("", "4"),
                         T::imageRecord("IMAGES\\IM0005", "5"), T::imageRecord("LINK\\IM0006", "6")}};
    RecordFields study{ERT_Study, V{{DCM_StudyInstanceUID, "1.2.3"}, {DCM_StudyDate, "20240131"}}, {images, nonImages}};
    RecordFields patient{ERT_Patient, V{{DCM_PatientID, "P1"}, {DCM_PatientName, "DOE^JOHN"}}, {study}};
    RecordFields samePatient{ERT_Patient, V{{DCM_PatientID, "P1"}, {DCM_PatientName, "DOE^JOHN"}}, {}};
    ASSERT_TRUE(T::writeDicomDir(dir.file("DICOMDIR"), {lonely, patient, samePatient}));
    // A folder of the media that is a link to elsewhere.
    TempDir outside;
    touch(outside.file("IM0006"), "elsewhere");
    ASSERT_TRUE(QFile::link(outside.path(), dir.file("LINK")));

    LogCapture log;
    RecordingScanner scanner;
    scanner.scanDicomDir(dir.file("DICOMDIR"));
    EXPECT_EQ(scanner.progress().back(), std::make_pair(3, 3));
    ASSERT_EQ(scanner.patients().size(), 2u);  // the two P1 records merge
    EXPECT_EQ(scanner.patients()[0]->patientId, "LONELY");
    EXPECT_TRUE(scanner.patients()[0]->studies.empty());
    const Patient* p1 = scanner.patients()[1];
    ASSERT_EQ(p1->studies.size(), 1u);
    ASSERT_EQ(p1->studies[0]->series.size(), 2u);
    const Series* ct = p1->studies[0]->series[0];
    EXPECT_TRUE(p1->studies[0]->series[1]->images.empty());
    ASSERT_EQ(ct->images.size(), 2u);
    EXPECT_EQ(ct->images[0]->location, Filesystem::Url::fromLocalFile(dir.path() + "/IMAGES/IM0001"));
    EXPECT_EQ(ct->images[1]->location, Filesystem::Url::fromLocalFile(dir.path() + "/IMAGES/IM0005"));
    EXPECT_TRUE(log.contains("'..\\..\\etc\\passwd'", 3));
    EXPECT_TRUE(log.contains("'\\etc\\passwd'", 3));
    EXPECT_TRUE(log.contains("'LINK\\IM0006'", 3));
    EXPECT_TRUE(log.contains("image record without a referenced file ID", 3));
    EXPECT_EQ(log.count("Skipping DICOMDIR image record"), 4);
}

TEST(ScannerDicomdir, NamesInOtherCharacterSetsAreReadAtEveryLevel)
{
    const QString name = QString::fromUtf8("Иванов^Иван");
    for (const auto& [charset, codec] : {std::pair{"ISO_IR 144", "ISO-8859-5"}, {"ISO_IR 192", "UTF-8"}}) {
        const std::string bytes = QTextCodec::codecForName(codec)->fromUnicode(name).toStdString();
        const auto record = [&, set = charset](E_DirRecType type, DcmTagKey tag, std::vector<RecordFields> below) {
            return RecordFields{type, {{DCM_SpecificCharacterSet, set}, {tag, bytes}}, std::move(below)};
        };
        TempDir dir;
        ASSERT_TRUE(T::writeDicomDir(
            dir.file("DICOMDIR"),
            {record(ERT_Patient, DCM_PatientName,
                    {record(ERT_Study, DCM_StudyDescription, {record(ERT_Series, DCM_SeriesDescription, {})})})}));
        RecordingScanner scanner;
        scanner.scanDicomDir(dir.file("DICOMDIR"));
        ASSERT_EQ(scanner.patients().size(), 1u) << charset;
        const Patient* p = scanner.patients()[0];
        ASSERT_TRUE(p->studies.size() == 1 && p->studies[0]->series.size() == 1) << charset;
        EXPECT_EQ(p->patientName, name) << charset;
        EXPECT_EQ(p->studies[0]->studyDescription, name) << charset;
        EXPECT_EQ(p->studies[0]->series[0]->seriesDescription, name) << charset;
    }
}

TEST(ScannerDicomdir, UnreadableInputsLogAndAddNothing)
{
    TempDir dir;
    QDir().mkpath(dir.file("ct"));
    ASSERT_TRUE(QFile::copy(T::pydicomData("test_files/CT_small.dcm"), dir.file("ct/DICOMDIR")));
    touch(dir.file("text/DICOMDIR"), "plain text, not DICOM at all");
    const QByteArray bytes = T::readFile(dicomdirTests + "/DICOMDIR");
    touch(dir.file("cut/DICOMDIR"), bytes.left(bytes.size() / 2));

    for (const char* name : {"ct/DICOMDIR", "text/DICOMDIR", "missing/DICOMDIR", "cut/DICOMDIR"}) {
        LogCapture log;
        RecordingScanner scanner;
        scanner.scanDicomDir(dir.file(name));
        EXPECT_TRUE(log.contains("Could not load DICOMDIR: ", 4)) << name;
        EXPECT_TRUE(scanner.patients().empty()) << name;
    }
}
