#include "host/dicom/HeaderParser.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>
#include <dcmtk/dcmdata/dcistrmb.h>

#include <sstream>

using Dravelin::Dicom::HeaderParser;
using Result = HeaderParser::Result;

namespace {

// What DCMTK's generic parser makes of the same bytes, printed.
std::string dcmtkHeader(const QByteArray& bytes, E_TransferSyntax* originalXfer = nullptr)
{
    DcmFileFormat file;
    DcmInputBufferStream stream;
    stream.setBuffer(bytes.constData(), bytes.size());
    stream.setEos();
    file.transferInit();
    const OFCondition status = file.readUntilTag(stream, EXS_Unknown, EGL_noChange, 0xFFFFFFFEu, DCM_PixelData);
    file.transferEnd();
    stream.releaseBuffer();
    if (status.bad())
        return "error: " + std::string(status.text());
    if (originalXfer)
        *originalXfer = file.getDataset()->getOriginalXfer();
    std::ostringstream out;
    file.getDataset()->print(out);
    return out.str();
}

std::string printed(DcmDataset& dataset)
{
    std::ostringstream out;
    dataset.print(out);
    return out.str();
}

QStringList filesUnder(const QStringList& folders)
{
    QStringList files;
    for (const QString& folder : folders) {
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    files.sort();
    return files;
}

// Every file the parser accepts must read exactly as DCMTK reads it; the rest are declined.
int expectSameAsDcmtk(const QStringList& files)
{
    int parsed = 0;
    for (const QString& path : files) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray bytes = Dravelin::Test::readFile(path);
        DcmDataset dataset;
        const Result result = HeaderParser::parse(bytes.constData(), size_t(bytes.size()), true, dataset);
        EXPECT_NE(result, Result::NeedsMoreData);
        if (result != Result::Parsed)
            continue;
        ++parsed;
        E_TransferSyntax xfer = EXS_Unknown;
        EXPECT_EQ(printed(dataset), dcmtkHeader(bytes, &xfer));
        EXPECT_EQ(dataset.getOriginalXfer(), xfer);
        EXPECT_FALSE(dataset.tagExists(DCM_PixelData));
    }
    return parsed;
}

class HeaderParserGenerated : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new Dravelin::Test::TempDir;
        ASSERT_TRUE(
            Dravelin::Test::runGenerator({"folder", dir->path(), "--patients", "1", "--studies", "1", "--series", "2",
                                          "--images", "3", "--size", "16", "--junk", "2", "--truncated", "2"}));
    }
    static void TearDownTestSuite() { delete dir; }
    static QByteArray image() { return Dravelin::Test::readFile(dir->file("p1/s1/r1/img1.dcm")); }
    static inline Dravelin::Test::TempDir* dir = nullptr;
};

}  // namespace

TEST(HeaderParser, CorpusFilesReadAsDcmtkReadsThem)
{
    const QStringList files =
        filesUnder({Dravelin::Test::pydicomData("test_files"), Dravelin::Test::pydicomData("charset_files")});
    ASSERT_GT(files.size(), 50);
    // Most of the corpus is explicit VR little endian; other encodings are left to DCMTK.
    EXPECT_GT(expectSameAsDcmtk(files), 30);

    for (const char* name : {"MR_small_implicit.dcm", "MR_small_bigendian.dcm"}) {
        const QByteArray bytes = Dravelin::Test::readFile(Dravelin::Test::pydicomData(QString("test_files/") + name));
        DcmDataset dataset;
        EXPECT_EQ(HeaderParser::parse(bytes.constData(), size_t(bytes.size()), true, dataset), Result::Unsupported);
    }
}

TEST_F(HeaderParserGenerated, GeneratedFilesIncludingPrivateTagsReadAsDcmtkReadsThem)
{
    const QStringList all = filesUnder({dir->path()});
    ASSERT_EQ(all.size(), 10);
    EXPECT_EQ(expectSameAsDcmtk(all), 6);  // the images; junk and truncated files are declined

    const QByteArray bytes = image();
    DcmDataset dataset;
    ASSERT_EQ(HeaderParser::parse(bytes.constData(), size_t(bytes.size()), true, dataset), Result::Parsed);
    DcmElement* element = nullptr;
    ASSERT_TRUE(dataset.findAndGetElement(DcmTagKey(0x0009, 0x1002), element).good());
    EXPECT_STREQ(element->getTag().getPrivateCreator(), "DRAVELIN GENERATOR");
}

// A chunk that ends anywhere inside the header asks for more; once the pixel data tag is in
// the chunk the result is complete and equal to DCMTK's.
TEST_F(HeaderParserGenerated, ChunksCutAnywhereAskForMoreOrParseInFull)
{
    const QByteArray bytes = image();
    const std::string expected = dcmtkHeader(bytes);
    const int pixelData = bytes.indexOf(QByteArray("\xe0\x7f\x10\x00OW", 6));
    ASSERT_GT(pixelData, 132);
    for (int n = 0; n <= pixelData + 16; ++n) {
        SCOPED_TRACE(n);
        DcmDataset dataset;
        const Result result = HeaderParser::parse(bytes.constData(), size_t(n), false, dataset);
        if (n < pixelData + 12) {
            ASSERT_EQ(result, Result::NeedsMoreData);
        } else {
            ASSERT_EQ(result, Result::Parsed);
            EXPECT_EQ(printed(dataset), expected);
        }
    }
}

// A complete file cut short, or with lengths that point past its end, is never read past its
// bytes: the parser declines and DCMTK reports the error as before.
TEST_F(HeaderParserGenerated, HostileLengthsAndCutFilesAreDeclined)
{
    const QByteArray bytes = image();
    const int pixelData = bytes.indexOf(QByteArray("\xe0\x7f\x10\x00OW", 6));
    int parsed = 0;
    for (int n = 0; n < pixelData; ++n) {
        SCOPED_TRACE(n);
        const QByteArray cut = bytes.left(n);
        DcmDataset dataset;
        const Result result = HeaderParser::parse(cut.constData(), size_t(n), true, dataset);
        ASSERT_NE(result, Result::NeedsMoreData);
        // A file that ends between two elements is whole as far as anyone can tell.
        if (result == Result::Parsed) {
            ++parsed;
            EXPECT_EQ(printed(dataset), dcmtkHeader(cut));
        }
    }
    EXPECT_GT(parsed, 10);
    EXPECT_LT(parsed, 60);

    // Patient name (2-byte length) and the private UT value (4-byte length) claim huge values.
    QByteArray shortLength = bytes;
    const int name = shortLength.indexOf(QByteArray("\x10\x00\x10\x00PN", 6));
    ASSERT_GT(name, 0);
    shortLength[name + 6] = '\xff';
    shortLength[name + 7] = '\xff';
    QByteArray longLength = bytes;
    const int text = longLength.indexOf(QByteArray("\x09\x00\x02\x10UT", 6));
    ASSERT_GT(text, 0);
    for (int i = 8; i < 12; ++i)
        longLength[text + i] = '\xf0';
    QByteArray undefinedText = bytes;
    for (int i = 8; i < 12; ++i)
        undefinedText[text + i] = '\xff';
    QByteArray badVr = bytes;
    badVr[name + 4] = '?';
    QByteArray badMetaLength = bytes;
    badMetaLength[140] = '\x01';  // the value of (0002,0000)
    QByteArray delimiter = bytes;
    delimiter[name] = '\xfe';
    delimiter[name + 1] = '\xff';
    for (const QByteArray* hostile : {&shortLength, &longLength, &undefinedText, &badVr, &badMetaLength, &delimiter}) {
        DcmDataset dataset;
        const Result result = HeaderParser::parse(hostile->constData(), size_t(hostile->size()), true, dataset);
        if (hostile == &shortLength) {
            // 65535 bytes fit in this file only if it is larger than that.
            EXPECT_EQ(result, bytes.size() > name + 8 + 0xFFFF ? Result::Parsed : Result::Unsupported);
        } else {
            EXPECT_EQ(result, Result::Unsupported);
        }
    }
    // In a chunk of a longer file a huge length only means "read more".
    DcmDataset dataset;
    EXPECT_EQ(HeaderParser::parse(longLength.constData(), size_t(pixelData), false, dataset), Result::NeedsMoreData);
}

// Sequences are read by DCMTK below the top level, nested as deep as the file says.
TEST(HeaderParser, NestedSequencesOfDefinedAndUndefinedLength)
{
    Dravelin::Test::TempDir dir;
    DcmFileFormat file;
    DcmItem* item = file.getDataset();
    item->putAndInsertString(DCM_PatientName, "Nested^Test");
    for (int depth = 0; depth < 40; ++depth) {
        DcmItem* child = nullptr;
        ASSERT_TRUE(item->findOrCreateSequenceItem(DCM_ReferencedSeriesSequence, child, -2).good());
        child->putAndInsertString(DCM_SeriesInstanceUID, ("1.2." + std::to_string(depth)).c_str());
        item = child;
    }
    file.getDataset()->putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
    file.getDataset()->putAndInsertString(DCM_SOPInstanceUID, "1.2.3");
    for (const E_EncodingType encoding : {EET_ExplicitLength, EET_UndefinedLength}) {
        const QString path = dir.file(encoding == EET_ExplicitLength ? "defined.dcm" : "undefined.dcm");
        ASSERT_TRUE(file.saveFile(path.toStdString().c_str(), EXS_LittleEndianExplicit, encoding).good());
        EXPECT_EQ(expectSameAsDcmtk({path}), 1);
    }
}
