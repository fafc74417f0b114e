#include "editor/DicomEditorConversion.h"
#include "host/core/LogCapture.h"
#include "host/core/Progress.h"
#include "host/dicom/deid/BurnedInTextRemoval.h"
#include "host/dicom/deid/DeidentificationProfiles.h"
#include "tests/support/PhiDataset.h"
#include "tests/support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <chrono>
#include <csignal>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>
#include <tuple>

#include <sys/resource.h>

namespace Dravelin {
namespace {

namespace T = Dravelin::Test;

std::vector<Filesystem::Url> urls(const QStringList& files)
{
    std::vector<Filesystem::Url> result;
    for (const QString& f : files)
        result.push_back(Filesystem::Url::fromLocalFile(f));
    return result;
}

QByteArray hashOf(const QString& path)
{
    return QCryptographicHash::hash(T::readFile(path), QCryptographicHash::Sha256);
}

std::unique_ptr<DcmFileFormat> load(const QString& path)
{
    auto file = std::make_unique<DcmFileFormat>();
    if (file->loadFile(QFile::encodeName(path).constData()).bad())
        return nullptr;
    file->loadAllDataIntoMemory();
    return file;
}

// The same pixel data, compressed or not, byte for byte.
bool samePixels(DcmDataset& a, DcmDataset& b)
{
    DcmElement* x = nullptr;
    DcmElement* y = nullptr;
    return a.findAndGetElement(DCM_PixelData, x).good() && b.findAndGetElement(DCM_PixelData, y).good() &&
           x->compare(*y) == 0;
}

class CancelAfter : public Progress
{
public:
    explicit CancelAfter(int steps) : m_steps(steps) {}
    void setRange(long long maximum) override { range = maximum; }
    void setValue(long long value) override
    {
        if (value % 2)  // widens the window in which an unordered report would overtake this one
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::lock_guard<std::mutex> lock(m_mutex);
        values.push_back(value);
        last = value;
    }
    void setText(const std::string&) override {}
    bool wasCancelled() const override { return last >= m_steps; }
    long long range = 0;
    std::atomic<long long> last{0};
    std::vector<long long> values;

private:
    int m_steps;
    std::mutex m_mutex;
};

// A full disk, as a file size limit: every later write fails. Lifted when it goes.
class FileSizeLimit
{
public:
    FileSizeLimit() : m_handler(std::signal(SIGXFSZ, SIG_IGN)) { getrlimit(RLIMIT_FSIZE, &m_saved); }
    ~FileSizeLimit()
    {
        lift();
        std::signal(SIGXFSZ, m_handler);
    }
    void set(qint64 bytes)
    {
        struct rlimit small = m_saved;
        small.rlim_cur = rlim_t(bytes);
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    void lift() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    void (*m_handler)(int);
    struct rlimit m_saved;
};

class DicomEditorConversionTest : public ::testing::Test
{
protected:
    // The basic profile, from the input folder to `output`.
    DicomEditorConversion convert(const QString& output) const
    {
        return DicomEditorConversion(in.path(), output, Dicom::tagDeidentificationActionBasicProfile(), false);
    }
    // Input files 0.dcm, 1.dcm, ... of the identifying data set.
    QStringList phiFiles(int count) const
    {
        QStringList files;
        for (int i = 0; i < count; ++i) {
            files << in.file(QString("%1.dcm").arg(i));
            EXPECT_TRUE(T::writePhiFile(files.back()));
        }
        return files;
    }
    T::TempDir in;
    T::TempDir out;
};

TEST_F(DicomEditorConversionTest, PydicomCorpusKeepsPixelsAndLeavesInputAlone)
{
    QStringList inputs;
    for (const QString& name : QDir(T::pydicomData("test_files")).entryList({"*.dcm"}, QDir::Files)) {
        const QString source = T::pydicomData("test_files/" + name);
        auto file = load(source);
        if (!file || T::text(*file->getDataset(), DCM_SOPInstanceUID).empty() ||
            T::text(*file->getDataset(), DCM_SOPClassUID).empty() || !file->getDataset()->tagExists(DCM_PixelData))
            continue;
        const QString target = in.file("sub dir/" + name);
        QDir().mkpath(QFileInfo(target).absolutePath());
        ASSERT_TRUE(QFile::copy(source, target));
        inputs << target;
    }
    ASSERT_GE(inputs.size(), 20);
    std::map<QString, QByteArray> before;
    for (const QString& f : inputs)
        before[f] = hashOf(f);

    auto conversion = convert(out.path());
    CancelAfter progress(1 << 30);
    const auto summary = conversion.run(urls(inputs), &progress);
    EXPECT_EQ(summary.failed, 0);
    EXPECT_EQ(summary.written, inputs.size());
    EXPECT_TRUE(summary.message().isEmpty());
    EXPECT_EQ(progress.range, inputs.size());
    EXPECT_EQ(progress.last, inputs.size());
    std::vector<long long> inOrder(progress.values.size());
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(progress.values, inOrder);  // one step at a time, never back

    for (const QString& f : inputs) {
        EXPECT_EQ(hashOf(f), before[f]) << f.toStdString();
        const QString written = QDir(out.path()).absoluteFilePath(QDir(in.path()).relativeFilePath(f));
        auto source = load(f);
        auto result = load(written);
        ASSERT_TRUE(result) << written.toStdString();
        EXPECT_EQ(result->getDataset()->getOriginalXfer(), source->getDataset()->getOriginalXfer()) << f.toStdString();
        EXPECT_TRUE(samePixels(*result->getDataset(), *source->getDataset())) << f.toStdString();
        EXPECT_EQ(T::text(*result->getDataset(), DCM_PatientIdentityRemoved), "YES");
        EXPECT_NE(T::text(*result->getDataset(), DCM_SOPInstanceUID),
                  T::text(*source->getDataset(), DCM_SOPInstanceUID));
        EXPECT_EQ(T::text(*result->getMetaInfo(), DCM_MediaStorageSOPInstanceUID),
                  T::text(*result->getDataset(), DCM_SOPInstanceUID));
    }
    EXPECT_EQ(T::filesUnder(out.path()).size(), inputs.size());  // no temporary files left
}

TEST_F(DicomEditorConversionTest, PhiSeriesLosesEveryMarkerAndKeepsReferences)
{
    QStringList inputs;
    for (int i = 0; i < 3; ++i) {
        T::PhiDatasetOptions options;
        options.sopInstanceUid = "1.2.3.999.50." + std::to_string(i);
        if (i > 0)
            options.referencedSopInstanceUid = "1.2.3.999.50.0";
        options.burnedInAnnotation = i == 2;
        inputs << in.file(QString("patient/study/img%1.dcm").arg(i));
        ASSERT_TRUE(T::writePhiFile(inputs.back(), options));
    }
    // Removing burned-in text changes the pixels only: the attributes lose the same.
    auto cleaned = convert(out.file("cleaned"));
    cleaned.setPixelCleaning(std::make_shared<Dicom::BurnedInTextRemoval>(nullptr, true), "auto");
    ASSERT_EQ(cleaned.run(urls(inputs)).written, 3);
    for (int i = 0; i < 3; ++i) {
        const QString path = out.file(QString("cleaned/patient/study/img%1.dcm").arg(i));
        EXPECT_FALSE(T::readFile(path).contains(T::kTextMarker)) << path.toStdString();
        const auto written = load(path);
        ASSERT_TRUE(written);
        const auto left = T::survivingMarkers(*written->getDataset());
        EXPECT_TRUE(left.empty()) << left.front();
    }
    auto conversion = convert(out.file("plain"));
    ASSERT_EQ(conversion.run(urls(inputs)).written, 3);

    std::vector<std::unique_ptr<DcmFileFormat>> results;
    for (int i = 0; i < 3; ++i) {
        const QString path = out.file(QString("plain/patient/study/img%1.dcm").arg(i));
        const QByteArray raw = T::readFile(path);
        EXPECT_FALSE(raw.contains(T::kTextMarker)) << path.toStdString();
        EXPECT_FALSE(raw.contains(T::kUidMarker)) << path.toStdString();
        results.push_back(load(path));
        ASSERT_TRUE(results.back());
        const auto left = T::survivingMarkers(*results.back()->getDataset());
        EXPECT_TRUE(left.empty()) << left.front();
    }
    DcmDataset& first = *results[0]->getDataset();
    for (int i = 1; i < 3; ++i) {
        DcmDataset& other = *results[i]->getDataset();
        EXPECT_EQ(T::text(other, DCM_StudyInstanceUID), T::text(first, DCM_StudyInstanceUID));
        EXPECT_EQ(T::text(other, DCM_SeriesInstanceUID), T::text(first, DCM_SeriesInstanceUID));
        DcmItem* reference = nullptr;
        ASSERT_TRUE(other.findAndGetSequenceItem(DCM_ReferencedImageSequence, reference, 0).good());
        EXPECT_EQ(T::text(*reference, DCM_ReferencedSOPInstanceUID), T::text(first, DCM_SOPInstanceUID));
    }

    // A structured report: its free text lives in Content Sequence items the table does not name.
    const QString report = in.file("report/reportsi.dcm");
    QDir().mkpath(QFileInfo(report).absolutePath());
    ASSERT_TRUE(QFile::copy(T::pydicomData("test_files/reportsi.dcm"), report));
    ASSERT_TRUE(T::readFile(report).contains("Enter text"));
    ASSERT_EQ(conversion.run(urls({report})).written, 1);
    EXPECT_FALSE(T::readFile(out.file("plain/report/reportsi.dcm")).contains("Enter text"));
}

TEST_F(DicomEditorConversionTest, PerFileFaultsAreLoggedCountedAndSkipped)
{
    LogCapture log;
    T::TempDir elsewhere;
    const QStringList good{in.file("a.dcm"), in.file("b.dcm")};
    for (const QString& f : good)
        ASSERT_TRUE(T::writePhiFile(f));
    const QString outside = elsewhere.file("c.dcm");
    ASSERT_TRUE(T::writePhiFile(outside));
    QStringList locations = good;
    locations << in.file("vanished.dcm") << outside;

    auto conversion = convert(out.path());
    const auto summary = conversion.run(urls(locations));
    EXPECT_EQ(summary.written, 2);
    EXPECT_EQ(summary.failed, 2);
    EXPECT_EQ(summary.message(), "Not all files could be saved. See log for details");
    EXPECT_EQ(summary.outcome("/x"), "2 files written to /x; 2 files failed (see the log)");
    EXPECT_TRUE(log.contains("Could not read file: ", 4));
    EXPECT_TRUE(log.contains("Could not create relative path: ../", 4));
    EXPECT_TRUE(QFile::exists(out.file("a.dcm")));

    // An output folder that cannot be created: every file fails, nothing appears.
    ASSERT_TRUE(T::writeFile(out.file("blocker"), ""));
    const auto failed = convert(out.file("blocker/sub")).run(urls(good));
    EXPECT_EQ(failed.written, 0);
    EXPECT_EQ(failed.failed, 2);
    EXPECT_TRUE(log.contains("Could not start: cannot create the folder " + out.file("blocker/sub").toStdString(), 4));
}

TEST_F(DicomEditorConversionTest, OutputEqualToInputReplacesFilesInPlace)
{
    T::TempDir elsewhere;
    const QStringList files{in.file("x/1.dcm"), in.file("x/2.dcm")};
    for (const QString& f : files)
        ASSERT_TRUE(T::writePhiFile(f));
    ASSERT_TRUE(QFile::setPermissions(files[0], QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    // A link in the input: its target is the original that must lose its identifying data.
    const QString target = elsewhere.file("target.dcm");
    ASSERT_TRUE(T::writePhiFile(target));
    ASSERT_TRUE(QFile::link(target, in.file("x/link.dcm")));
    auto conversion = convert(in.path());
    ASSERT_EQ(conversion.run(urls(files + QStringList{in.file("x/link.dcm")})).written, 3);
    EXPECT_EQ(T::filesUnder(in.path()), (QStringList{"x/1.dcm", "x/2.dcm", "x/link.dcm"}));
    EXPECT_EQ(QFileInfo(in.file("x/link.dcm")).symLinkTarget(), target);
    EXPECT_FALSE(T::readFile(target).contains(T::kTextMarker));
    EXPECT_EQ(QFile::permissions(files[0]) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    for (const QString& f : files) {
        auto result = load(f);
        ASSERT_TRUE(result);
        EXPECT_EQ(T::text(*result->getDataset(), DCM_PatientIdentityRemoved), "YES");
        EXPECT_FALSE(T::readFile(f).contains(T::kTextMarker));
    }
}

TEST_F(DicomEditorConversionTest, CancelStopsEarly)
{
    const QStringList files = phiFiles(6);
    auto conversion = convert(out.path());
    conversion.setThreadCount(1);
    CancelAfter progress(2);
    const auto summary = conversion.run(urls(files), &progress);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.locations, 2);
    EXPECT_EQ(summary.written, 2);
    EXPECT_EQ(summary.failed, 0);
    EXPECT_TRUE(summary.journalKept);
    EXPECT_EQ(T::filesUnder(out.path()).size(), 3);  // and the journal, for a resume
}

// Writing: a failed write leaves nothing, long names work, temporaries never remain.
TEST_F(DicomEditorConversionTest, FilesAppearWholeOrNotAtAll)
{
    LogCapture log;
    const QString longName = in.file(QString(240, QChar('n')) + ".dcm");
    ASSERT_TRUE(T::writePhiFile(longName));
    const QString big = in.file("big.dcm");  // 39 KB
    ASSERT_TRUE(QFile::copy(T::pydicomData("test_files/CT_small.dcm"), big));
    // Left by an interrupted run: removed. A user's file of a similar name: kept.
    ASSERT_TRUE(QDir().mkpath(out.file("sub")));
    ASSERT_TRUE(QFile::copy(big, out.file("sub/.dravelin-0123456789ab.part")));
    ASSERT_TRUE(QFile::copy(big, out.file("sub/.mine.part")));

    auto conversion = convert(out.path());
    ASSERT_EQ(conversion.run(urls({longName})).written, 1);
    EXPECT_EQ(T::filesUnder(out.path()), QStringList({QFileInfo(longName).fileName(), "sub/.mine.part"}));

    // A full disk, as a file size limit that only the last write, at the close, passes: the
    // write fails, is counted, and the earlier whole file (same UIDs, same size) stays.
    ASSERT_EQ(conversion.run(urls({big})).written, 1);
    const qint64 whole = QFileInfo(out.file("big.dcm")).size();
    FileSizeLimit limit;
    limit.set(whole - 32);
    const auto summary = conversion.run(urls({big}));
    limit.lift();
    EXPECT_EQ(summary.written, 0);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(QFileInfo(out.file("big.dcm")).size(), whole);
    EXPECT_EQ(T::filesUnder(out.path()).size(), 4);  // and the journal
    EXPECT_TRUE(log.contains("Could not save file: " + out.file("big.dcm").toStdString(), 4));
}

// Files are made durable in batches: a file whose final step (the rename) fails in the middle of a
// batch is counted and leaves no file, no temporary, and the rest of its batch written.
TEST_F(DicomEditorConversionTest, AFailureInsideABatchCostsOnlyThatFile)
{
    LogCapture log;
    const QStringList files = phiFiles(5);
    ASSERT_TRUE(QDir().mkpath(out.file("2.dcm/keep")));  // a folder where file 2 would go
    auto conversion = convert(out.path());
    conversion.setThreadCount(1);
    const auto summary = conversion.run(urls(files));
    EXPECT_EQ(summary.written, 4);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(T::filesUnder(out.path()),
              QStringList({"0.dcm", "1.dcm", "3.dcm", "4.dcm", "UNFINISHED-DEIDENTIFICATION.journal"}));
    EXPECT_TRUE(QFileInfo(out.file("2.dcm")).isDir());
    EXPECT_TRUE(log.contains("Could not save file: " + out.file("2.dcm").toStdString(), 4));
}

// A run stopped part way (cancelled, or the disk full from some file on), in place or into
// another folder, then finished by a resumed run: the patients, studies and series of the input,
// every file de-identified once, the mapping kept only where asked.
class ResumedConversionTest : public DicomEditorConversionTest,
                              public ::testing::WithParamInterface<std::tuple<bool, bool>>
{
};

TEST_P(ResumedConversionTest, FinishesWithTheSameMapping)
{
    const auto [inPlace, diskFull] = GetParam();
    ASSERT_TRUE(
        T::runGenerator({"folder", in.path(), "--patients", "4", "--studies", "2", "--series", "5", "--images", "2"}));
    QStringList files;
    for (const QString& f : T::filesUnder(in.path()))
        files << in.file(f);
    ASSERT_EQ(files.size(), 80);
    const QString output = inPlace ? in.path() : out.path();
    FileSizeLimit limit;
    class Interruption : public Progress
    {
    public:
        Interruption(FileSizeLimit* diskFull, QString journal) : m_diskFull(diskFull), m_journal(std::move(journal)) {}
        void setRange(long long) override {}
        void setText(const std::string&) override {}
        void setValue(long long value) override
        {
            m_value = value;
            if (!m_diskFull || value != 70)
                return;
            // The first batch is committed on a thread of its own: the disk fills up after it.
            for (int i = 0; i < 1000 && !T::readFile(m_journal).contains("\ndone\t"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            m_diskFull->set(1024);
        }
        bool wasCancelled() const override { return !m_diskFull && m_value >= 70; }

    private:
        FileSizeLimit* m_diskFull;
        QString m_journal;
        long long m_value = 0;
    } interruption(diskFull ? &limit : nullptr, QDir(output).filePath("UNFINISHED-DEIDENTIFICATION.journal"));

    auto first = convert(output);
    first.setThreadCount(1);  // one batch of 64 in place before the interruption
    const auto stopped = first.run(urls(files), &interruption);
    limit.lift();
    EXPECT_EQ(stopped.cancelled, !diskFull);
    // Cancelled, the files in hand are written; on a full disk, the batch of the first 64 only.
    EXPECT_EQ(stopped.written, diskFull ? 64 : 70);
    EXPECT_EQ(stopped.failed, diskFull ? 16 : 0);
    EXPECT_TRUE(stopped.journalKept);
    EXPECT_FALSE(convert(output).start(false).isEmpty());  // never over an unfinished run

    T::TempDir elsewhere;
    auto resumed = convert(output);
    ASSERT_EQ(resumed.start(true), "");
    resumed.setKeepMapping(elsewhere.file("mapping.txt"));
    const auto finished = resumed.run(urls(files));
    EXPECT_EQ(finished.writtenBefore, stopped.written);
    EXPECT_EQ(finished.written, 80 - stopped.written);
    EXPECT_EQ(finished.failed, 0);
    EXPECT_FALSE(finished.journalKept);
    EXPECT_EQ(T::deidCounts(output), (T::DeidCounts{80, 4, 8, 40, 0}));
    EXPECT_FALSE(DicomEditorConversion::hasUnfinishedRun(output));
    EXPECT_EQ(QFile::permissions(elsewhere.file("mapping.txt")),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    EXPECT_EQ(T::readFile(elsewhere.file("mapping.txt")).count("\npatient\t"), 4);
}

INSTANTIATE_TEST_SUITE_P(InPlaceOrNot, ResumedConversionTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()));

TEST_F(DicomEditorConversionTest, DicomdirsAreLeftOutAndTheMetaClassSurvives)
{
    const QString dicomdir = in.file("other name");
    ASSERT_TRUE(QFile::copy(T::pydicomData("test_files/dicomdirtests/DICOMDIR"), dicomdir));
    // A dataset without SOP Class UID: only its meta header knows the class.
    const QString classless = in.file("classless.dcm");
    {
        DcmFileFormat file(T::makePhiDataset().release(), OFFalse);
        file.getDataset()->findAndDeleteElement(DCM_SOPClassUID);
        file.getMetaInfo()->putAndInsertString(DCM_MediaStorageSOPClassUID, UID_CTImageStorage);
        file.getMetaInfo()->putAndInsertString(DCM_MediaStorageSOPInstanceUID, "1.2.3.999.3");
        file.getMetaInfo()->putAndInsertString(DCM_TransferSyntaxUID, UID_LittleEndianExplicitTransferSyntax);
        ASSERT_TRUE(file.saveFile(QFile::encodeName(classless).constData(), EXS_LittleEndianExplicit,
                                  EET_UndefinedLength, EGL_recalcGL, EPD_noChange, 0, 0, EWM_updateMeta)
                        .good());
    }
    auto conversion = convert(out.path());
    const auto summary = conversion.run(urls({dicomdir, classless}));
    EXPECT_EQ(summary.leftOut, 1);
    EXPECT_EQ(summary.failed, 0);
    EXPECT_FALSE(QFile::exists(out.file("other name")));
    auto result = load(out.file("classless.dcm"));
    ASSERT_TRUE(result);
    EXPECT_EQ(T::text(*result->getMetaInfo(), DCM_MediaStorageSOPClassUID), UID_CTImageStorage);
    EXPECT_NE(T::text(*result->getMetaInfo(), DCM_MediaStorageSOPInstanceUID), "1.2.3.999.3");
}

TEST_F(DicomEditorConversionTest, FoldersThatWouldLoseOriginalsAreRefused)
{
    T::TempDir full;
    QFile(full.file("x")).open(QIODevice::WriteOnly);
    // output, in place, overwrite, refused
    const std::vector<std::tuple<QString, bool, bool, bool>> cases{
        {in.path(), false, false, true},
        {in.path() + "/", true, false, false},
        {out.path(), true, false, true},
        {in.file("sub/new"), false, false, true},
        {out.file("new/deeper"), false, false, false},
        {full.path(), false, false, true},
        {full.path(), false, true, false},
        {full.file("x"), false, true, true},
    };
    for (const auto& [output, inPlace, overwrite, refused] : cases)
        EXPECT_EQ(!DicomEditorConversion::folderProblem(in.path(), output, inPlace, overwrite).isEmpty(), refused)
            << output.toStdString() << " in place " << inPlace << " overwrite " << overwrite;
}

}  // namespace
}  // namespace Dravelin
