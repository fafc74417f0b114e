#include "host/dicom/DicomDirReader.h"
#include "host/dicom/RawHeader.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

namespace Dravelin::Dicom {
namespace {

QByteArray dicomdirBytes(const char* name)
{
    return Test::readFile(Test::pydicomData(QString("test_files/dicomdirtests/") + name));
}

// Types of the records below each root, depth first: "PATIENT(STUDY(SERIES(IMAGE IMAGE)))".
std::string outline(const DicomDirReader& reader, const std::vector<std::size_t>& indexes)
{
    std::string text;
    for (const std::size_t i : indexes) {
        const auto& record = reader.records()[i];
        text += (text.empty() ? "" : " ") + record.type;
        if (!record.children.empty())
            text += "(" + outline(reader, record.children) + ")";
    }
    return text;
}

// Overwrites the 32-bit value of the first element `tag` (explicit little endian, VR UL).
QByteArray withOffset(QByteArray bytes, const QByteArray& tag, quint32 value)
{
    const int at = bytes.indexOf(tag + "UL" + QByteArray::fromHex("0400"));
    if (at >= 0)
        for (int i = 0; i < 4; ++i)
            bytes[at + 8 + i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

TEST(DicomDirReader, LinksRecordsInEveryEncodingAndRefusesBrokenLinks)
{
    const QByteArray full = dicomdirBytes("DICOMDIR");
    ASSERT_FALSE(full.isEmpty());
    DicomDirReader reference;
    ASSERT_TRUE(reference.readBytes(full.constData(), static_cast<std::size_t>(full.size()))) << reference.error();
    ASSERT_EQ(reference.roots().size(), 2u);
    const std::string expected = outline(reference, reference.roots());
    EXPECT_EQ(expected.rfind("PATIENT(STUDY(SERIES(IMAGE", 0), 0u) << expected;
    for (const char* variant : {"DICOMDIR-implicit", "DICOMDIR-bigEnd", "DICOMDIR-reordered"}) {
        const QByteArray bytes = dicomdirBytes(variant);
        DicomDirReader reader;
        ASSERT_TRUE(reader.readBytes(bytes.constData(), static_cast<std::size_t>(bytes.size()))) << variant;
        EXPECT_EQ(outline(reader, reader.roots()), expected) << variant;
    }

    const QByteArray rootOffset = QByteArray::fromHex("04000012");
    const QByteArray nextOffset = QByteArray::fromHex("04000014");
    // Three bytes that make DCMTK throw from inside its reader.
    QByteArray throwing = dicomdirBytes("DICOMDIR-nooffset");
    ASSERT_EQ(throwing.size(), 11092);
    throwing[2932] = '\xFE';
    throwing[5175] = '\x04';
    throwing[9362] = '\x80';
    const int firstRecord =
        full.indexOf(QByteArray::fromHex("feff00e0"), full.indexOf(QByteArray::fromHex("04002012")));
    const struct
    {
        QByteArray bytes;
        const char* error;
    } broken[] = {
        {full.left(full.size() / 2), "the DICOMDIR is truncated"},
        {withOffset(full, rootOffset, static_cast<quint32>(full.size()) + 1000), "points to no record"},
        {withOffset(full, nextOffset, static_cast<quint32>(firstRecord)), "is linked twice"},
        {withOffset(full, rootOffset, 0), "no record is linked from the root"},
        {throwing, "cannot read the DICOMDIR"},
    };
    for (const auto& b : broken) {
        DicomDirReader reader;
        EXPECT_FALSE(reader.readBytes(b.bytes.constData(), static_cast<std::size_t>(b.bytes.size()))) << b.error;
        EXPECT_NE(reader.error().find(b.error), std::string::npos) << reader.error();
        EXPECT_TRUE(reader.roots().empty());
    }
    // A file that cannot be read is named with the reason.
    const std::pair<std::string, std::string> unreadable[] = {
        {"/nonexistent/DICOMDIR", "cannot read /nonexistent/DICOMDIR: No such file or directory"},
        {"/tmp", "cannot read /tmp: not a regular file"}};
    for (const auto& [path, error] : unreadable) {
        DicomDirReader reader;
        EXPECT_FALSE(reader.readFile(path));
        EXPECT_EQ(reader.error(), error);
    }
}

// The pydicom file set in explicit VR is walked in its bytes; each record's values read there
// as DCMTK reads them from the same file set in implicit VR (whole, as a tree), and the records
// read again from the file in any order.
TEST(DicomDirReader, RecordsWalkedInTheBytesReadAsDcmtkReadsThem)
{
    const QByteArray implicit = dicomdirBytes("DICOMDIR-implicit");
    DicomDirReader reference;
    ASSERT_TRUE(reference.readBytes(implicit.constData(), static_cast<std::size_t>(implicit.size())));
    EXPECT_FALSE(reference.walkedRaw());
    DicomDirReader reader;
    ASSERT_TRUE(reader.readFile(Dravelin::Test::pydicomData("test_files/dicomdirtests/DICOMDIR").toStdString()))
        << reader.error();
    EXPECT_TRUE(reader.walkedRaw());
    ASSERT_EQ(outline(reader, reader.roots()), outline(reference, reference.roots()));
    ASSERT_EQ(reader.records().size(), reference.records().size());

    const std::vector<std::pair<DcmTagKey, RawHeader::Field>> tags{
        {DCM_ReferencedFileID, {0x00041500u, {'C', 'S'}}}, {DCM_DirectoryRecordType, {0x00041430u, {'C', 'S'}}},
        {DCM_PatientName, {0x00100010u, {'P', 'N'}}},      {DCM_PatientID, {0x00100020u, {'L', 'O'}}},
        {DCM_StudyInstanceUID, {0x0020000Du, {'U', 'I'}}}, {DCM_SeriesInstanceUID, {0x0020000Eu, {'U', 'I'}}},
        {DCM_InstanceNumber, {0x00200013u, {'I', 'S'}}},   {DCM_Modality, {0x00080060u, {'C', 'S'}}}};
    std::vector<RawHeader::Field> fields;
    for (const auto& tag : tags)
        fields.push_back(tag.second);
    std::sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) { return a.tag < b.tag; });
    RawHeader header(fields);
    std::size_t valuesCompared = 0;
    for (std::size_t i = reader.records().size(); i-- > 0;) {
        ASSERT_TRUE(reader.parseRecord(i, header)) << "record " << i;
        DcmItem* expected = reference.item(i);
        DcmItem* rebuilt = reader.item(i);
        ASSERT_TRUE(expected && rebuilt) << "record " << i;
        for (const auto& tag : tags) {
            const DcmTagKey& key = tag.first;
            const std::uint32_t wanted = tag.second.tag;
            OFString want, again;
            const bool present = expected->findAndGetOFStringArray(key, want).good();
            rebuilt->findAndGetOFStringArray(key, again);
            const std::size_t at = static_cast<std::size_t>(
                std::find_if(fields.begin(), fields.end(), [wanted](const auto& f) { return f.tag == wanted; }) -
                fields.begin());
            const EncodedValue* value = header.value(at);
            ASSERT_EQ(value != nullptr, present) << "record " << i << " tag " << key.toString().c_str();
            if (value) {
                EXPECT_EQ(std::string(value->bytes), want.c_str()) << "record " << i;
                EXPECT_EQ(again, want) << "record " << i;
                ++valuesCompared;
            }
        }
    }
    EXPECT_GT(valuesCompared, 2 * reader.records().size());

    // A file cut short after its walk (a disc taken out, a copy still being made): the record
    // that is no longer there is named by its offset.
    Dravelin::Test::TempDir dir;
    const QString copy = dir.file("DICOMDIR");
    ASSERT_TRUE(QFile::copy(Dravelin::Test::pydicomData("test_files/dicomdirtests/DICOMDIR"), copy));
    DicomDirReader cut;
    ASSERT_TRUE(cut.readFile(copy.toStdString()));
    const DicomDirReader::Record& last = cut.records().back();
    ASSERT_TRUE(QFile::resize(copy, static_cast<qint64>(last.begin)));
    EXPECT_EQ(cut.item(cut.records().size() - 1), nullptr);
    EXPECT_EQ(cut.itemError(), "the record at offset " + std::to_string(last.begin - 8) +
                                   " lies past the end of the file (it changed since it was read)");
}

}  // namespace
}  // namespace Dravelin::Dicom
