#include "host/dicom/DicomDirReader.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

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
}

}  // namespace
}  // namespace Dravelin::Dicom
