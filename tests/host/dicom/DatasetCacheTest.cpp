#include "host/core/LogCapture.h"
#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/Element.h"
#include "tests/host/dicom/TestSeries.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <atomic>
#include <set>
#include <thread>
#include <tuple>

using namespace Dravelin;
namespace Fixture = Dravelin::Test;
using Dicom::DatasetCache;

namespace {

std::string testFile(const char* name)
{
    return Fixture::pydicomData(QString("test_files/") + name).toStdString();
}

}  // namespace

// Every transfer syntax of the corpus gives the values the file holds.
TEST(DatasetCache, ReadsValuesAcrossTransferSyntaxes)
{
    DatasetCache cache;
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"CT_small.dcm", "CompressedSamples^CT1", "128"},
        {"MR_small.dcm", "CompressedSamples^MR1", "64"},
        {"MR_small_bigendian.dcm", "CompressedSamples^MR1", "64"},
        {"MR_small_implicit.dcm", "CompressedSamples^MR1", "64"},
        {"MR_small_RLE.dcm", "CompressedSamples^MR1", "64"},
        {"MR_small_jpeg_ls_lossless.dcm", "CompressedSamples^MR1", "64"},
        {"JPEG-lossy.dcm", "CompressedSamples^NM1", "1024"},
        {"image_dfl.dcm", "^^^^", "512"},
    };
    for (const auto& [file, patientName, rows] : cases) {
        for (bool complete : {false, true}) {
            SCOPED_TRACE(std::string(file) + (complete ? " complete" : " header"));
            auto ds = cache.loadFromFile(testFile(file), nullptr, complete);
            ASSERT_TRUE(ds);
            EXPECT_EQ(Fixture::text(*ds, DCM_PatientName), patientName);
            EXPECT_EQ(Fixture::text(*ds, DCM_Rows), rows);
            EXPECT_EQ(ds->tagExists(DCM_PixelData), complete);
        }
    }
    auto bigEndianNoMeta = cache.loadFromFile(testFile("ExplVR_BigEndNoMeta.dcm"), nullptr, false);
    ASSERT_TRUE(bigEndianNoMeta);
    EXPECT_EQ(Fixture::text(*bigEndianNoMeta, DCM_Modality), "RTPLAN");
}

TEST(DatasetCache, BadFilesGiveNullAndReportErrors)
{
    Fixture::TempDir dir;
    ASSERT_TRUE(Fixture::writeFile(dir.file("empty.dcm"), QByteArray()));
    ASSERT_TRUE(Fixture::writeFile(dir.file("text.txt"), QByteArray("This is not DICOM at all.\n").repeated(200)));
    QByteArray junk(128, '\0');
    junk += "DICM";
    junk += QByteArray(64, '\xff');
    ASSERT_TRUE(Fixture::writeFile(dir.file("junk.dcm"), junk));

    DatasetCache cache;
    std::vector<Dicom::Error> errors;
    const int handle = cache.addErrorCallback([&](const Dicom::Error& e) { errors.push_back(e); });
    LogCapture log;
    for (const QString& name : {QString("empty.dcm"), QString("text.txt"), QString("junk.dcm"), QString("missing")}) {
        for (bool complete : {false, true}) {
            SCOPED_TRACE(name.toStdString());
            EXPECT_FALSE(cache.loadFromFile(dir.file(name).toStdString(), nullptr, complete));
        }
    }
    EXPECT_EQ(errors.size(), 8u);
    EXPECT_TRUE(log.contains("empty.dcm"));
    EXPECT_EQ(cache.size(), 0);

    // Truncated pixel data: the header is intact, the complete dataset is not.
    EXPECT_FALSE(cache.loadFromFile(testFile("MR_truncated.dcm"), nullptr, true));
    auto header = cache.loadFromFile(testFile("MR_truncated.dcm"), nullptr, false);
    ASSERT_TRUE(header);
    EXPECT_EQ(Fixture::text(*header, DCM_Modality), "MR");
    EXPECT_FALSE(cache.loadFromFile(testFile("rtplan_truncated.dcm"), nullptr, true));

    cache.removeErrorCallback(handle);
    const size_t before = errors.size();
    EXPECT_FALSE(cache.loadFromFile(dir.file("empty.dcm").toStdString(), nullptr, false));
    EXPECT_EQ(errors.size(), before);
}

TEST(DatasetCache, HeaderOnlyEntriesAreReadAgainWhenCompleteIsAsked)
{
    DatasetCache cache;
    const std::string path = testFile("CT_small.dcm");
    auto header = cache.loadFromFile(path, nullptr, false);
    ASSERT_TRUE(header);
    EXPECT_FALSE(header->tagExists(DCM_PixelData));
    EXPECT_TRUE(cache.loadFromFile(path, nullptr, false));  // served from memory
    EXPECT_EQ(cache.parseCount(), 1);

    auto complete = cache.loadFromFile(path, nullptr, true);
    ASSERT_TRUE(complete);
    EXPECT_TRUE(complete->tagExists(DCM_PixelData));
    EXPECT_EQ(cache.parseCount(), 2);
    // Now both kinds of request get the complete dataset without parsing.
    EXPECT_TRUE(cache.loadFromFile(path, nullptr, false)->tagExists(DCM_PixelData));
    EXPECT_TRUE(cache.loadFromFile(path, nullptr, true)->tagExists(DCM_PixelData));
    EXPECT_EQ(cache.parseCount(), 2);
    EXPECT_EQ(cache.size(), 1);
}

TEST(DatasetCache, LongHeadersAndValuesAreReadInFull)
{
    Fixture::TempDir dir;
    Fixture::SliceFields fields;
    const QString path = dir.file("long.dcm");
    ASSERT_TRUE(Fixture::writeSlice(path, fields));
    // A 40 kB value before the pixel data: longer than the first read of a header.
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(path.toUtf8().constData()).good());
    const std::string longText(40000, 'x');
    file.getDataset()->putAndInsertString(DcmTag(0x0009, 0x0010, EVR_LO), "TEST");
    file.getDataset()->putAndInsertString(DcmTag(0x0009, 0x1000, EVR_UT), longText.c_str());
    ASSERT_TRUE(file.saveFile(path.toUtf8().constData(), EXS_LittleEndianExplicit).good());

    DatasetCache cache;
    auto ds = cache.loadFromFile(path.toStdString(), nullptr, false);
    ASSERT_TRUE(ds);
    EXPECT_FALSE(ds->tagExists(DCM_PixelData));
    QFile::remove(path);  // nothing may be left to read lazily from the file
    EXPECT_EQ(Fixture::text(*ds, DcmTagKey(0x0009, 0x1000)).size(), longText.size());
    EXPECT_EQ(Fixture::text(*ds, DCM_SeriesInstanceUID), fields.seriesUid);
}

TEST(DatasetCache, NeverExceedsItsCapacity)
{
    Fixture::TempDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        Fixture::SliceFields fields;
        fields.instanceNumber = i;
        files.push_back(dir.file(QString("s%1.dcm").arg(i)).toStdString());
        ASSERT_TRUE(Fixture::writeSlice(QString::fromStdString(files.back()), fields));
    }
    DatasetCache cache(4);
    std::atomic<int> maxSize{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                auto ds = cache.loadFromFile(files[(round * 5 + t * 3) % files.size()], nullptr, round % 2 == 0);
                EXPECT_TRUE(ds);
                int seen = cache.size();
                int previous = maxSize.load();
                while (seen > previous && !maxSize.compare_exchange_weak(previous, seen)) {
                }
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_LE(maxSize.load(), 4);
    EXPECT_EQ(cache.size(), 4);

    // Least recently used goes first.
    DatasetCache lru(2);
    lru.loadFromFile(files[0], nullptr, false);
    lru.loadFromFile(files[1], nullptr, false);
    lru.loadFromFile(files[0], nullptr, false);
    lru.loadFromFile(files[2], nullptr, false);  // evicts files[1]
    EXPECT_EQ(lru.parseCount(), 3);
    lru.loadFromFile(files[0], nullptr, false);
    EXPECT_EQ(lru.parseCount(), 3);
    lru.loadFromFile(files[1], nullptr, false);
    EXPECT_EQ(lru.parseCount(), 4);
}

TEST(DatasetCache, ConcurrentLoadsOfOneFileParseItOnce)
{
    const std::string path = testFile("JPEG-lossy.dcm");
    for (bool complete : {false, true}) {
        DatasetCache cache;
        std::vector<std::shared_ptr<DcmDataset>> results(8);
        std::vector<std::string> uids(8);
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&, t] {
                while (!go.load()) {
                }
                // Each thread reads what it got at once, as a scan does.
                results[t] = cache.loadFromFile(path, nullptr, complete);
                OFString uid;
                if (results[t] && results[t]->findAndGetOFString(DCM_SOPInstanceUID, uid).good())
                    uids[t] = uid.c_str();
            });
        go = true;
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(cache.parseCount(), 1);
        // One parse, but no dataset is handed to two threads.
        std::set<DcmDataset*> distinct;
        for (int t = 0; t < 8; ++t) {
            distinct.insert(results[t].get());
            EXPECT_EQ(uids[t], uids[0]);
        }
        EXPECT_EQ(distinct.size(), 8u);
        EXPECT_FALSE(uids[0].empty());
    }
}

TEST(DatasetCache, ConvertsDeclaredCharacterSetsToUtf8)
{
    DatasetCache cache;
    for (const auto& [file, name] : {std::pair{"chrGerm.dcm", "Äneas^Rüdiger"},
                                     {"chrRuss.dcm", "Люкceмбypг"},
                                     {"chrFren.dcm", "Buc^Jérôme"},
                                     {"chrX1.dcm", "Wang^XiaoDong=王^小東="}}) {
        SCOPED_TRACE(file);
        auto ds =
            cache.loadFromFile(Fixture::pydicomData(QString("charset_files/") + file).toStdString(), nullptr, false);
        ASSERT_TRUE(ds);
        EXPECT_EQ(Fixture::text(*ds, DCM_PatientName), name);
    }
    // Japanese ISO 2022 IR 87 cannot be converted here: values stay as stored, with a message.
    LogCapture log;
    auto japanese = cache.loadFromFile(Fixture::pydicomData("charset_files/chrH31.dcm").toStdString(), nullptr, false);
    ASSERT_TRUE(japanese);
    EXPECT_EQ(Fixture::text(*japanese, DCM_PatientName).rfind("Yamada^Tarou=\x1b$B", 0), 0u);
    EXPECT_TRUE(log.contains("UTF-8", 3));
}

TEST(DatasetCache, LoadsFilesAndFoldersOfUrls)
{
    Fixture::TempDir dir;
    QDir().mkpath(dir.file("sub"));
    Fixture::SliceFields a, b;
    b.seriesUid = "1.2.3.999";
    for (int i : {10, 2, 1}) {
        a.instanceNumber = i;
        ASSERT_TRUE(Fixture::writeSlice(dir.file(QString("img%1.dcm").arg(i)), a));
    }
    ASSERT_TRUE(Fixture::writeSlice(dir.file("sub/img3.dcm"), a));
    ASSERT_TRUE(Fixture::writeSlice(dir.file("other.dcm"), b));
    ASSERT_TRUE(Fixture::writeFile(dir.file("notes.txt"), "not dicom"));
    QFile::copy(Fixture::pydicomData("test_files/ExplVR_LitEndNoMeta.dcm"), dir.file("nometa.dcm"));
    QFile::copy(Fixture::pydicomData("test_files/CT_small.dcm"), dir.file("DICOMDIR"));

    DatasetCache cache;
    auto names = [&](const Filesystem::Url& url, bool complete) {
        std::vector<std::string> files;
        auto datasets = cache.load(url, &files, nullptr, complete);
        EXPECT_EQ(datasets.size(), files.size());
        std::vector<std::string> result;
        for (const std::string& file : files)
            result.push_back(QFileInfo(QString::fromStdString(file)).fileName().toStdString());
        return result;
    };
    using Names = std::vector<std::string>;
    Filesystem::Url folder = Filesystem::Url::fromLocalFile(dir.path());
    EXPECT_EQ(names(folder, true), (Names{"img1.dcm", "img2.dcm", "img10.dcm", "other.dcm"}));

    Filesystem::Url series = folder;
    series.appendSubquery("series", a.seriesUid);
    EXPECT_EQ(names(series, true), (Names{"img1.dcm", "img2.dcm", "img10.dcm"}));
    series.appendSubquery("recursive", "1");
    EXPECT_EQ(names(Filesystem::Url(series.string(0x80)), false),
              (Names{"img1.dcm", "img2.dcm", "img10.dcm", "img3.dcm"}));

    Filesystem::Url all = folder;
    all.appendSubquery("ignoreNonDicom", "0");
    EXPECT_EQ(names(all, false), (Names{"img1.dcm", "img2.dcm", "img10.dcm", "nometa.dcm", "other.dcm"}));

    Filesystem::Url single = Filesystem::Url::fromLocalFile(dir.file("nometa.dcm"));
    EXPECT_TRUE(names(single, true).empty());
    single.appendSubquery("ignoreNonDicom", "0");
    EXPECT_EQ(names(single, true), (Names{"nometa.dcm"}));

    std::vector<Dicom::Error> errors;
    cache.addErrorCallback([&](const Dicom::Error& e) { errors.push_back(e); });
    EXPECT_TRUE(names(Filesystem::Url::fromLocalFile(dir.file("nowhere")), true).empty());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].message.find("does not exist"), std::string::npos);
    EXPECT_TRUE(cache.load(Filesystem::Url(std::string("pacs://server/1.2.3")), nullptr, nullptr, true).empty());
}

// Every file of the corpus, DICOM or not, in both modes: nothing crashes, the good ones load.
TEST(DatasetCache, WholeCorpusLoadsWithoutCrashing)
{
    DatasetCache cache(16);
    for (const char* folder : {"test_files", "charset_files", "test_files/dicomdirtests"}) {
        Filesystem::Url url = Filesystem::Url::fromLocalFile(Fixture::pydicomData(folder));
        url.appendSubquery("ignoreNonDicom", "0");
        url.appendSubquery("recursive", "1");
        for (bool complete : {false, true}) {
            SCOPED_TRACE(std::string(folder) + (complete ? " complete" : " header"));
            std::vector<std::string> files;
            const auto datasets = cache.load(url, &files, nullptr, complete);
            EXPECT_EQ(datasets.size(), files.size());
            EXPECT_GE(datasets.size(), std::string(folder) == "test_files" ? 100u : 10u);
            EXPECT_LE(cache.size(), 16);
        }
    }
}
