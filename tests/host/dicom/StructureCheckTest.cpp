#include "host/dicom/StructureCheck.h"
#include "tests/support/HostileData.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

namespace Dravelin::Dicom {
namespace {

using Test::HostileData::Nesting;
namespace H = Test::HostileData;

StructureCheck::Result checkOf(const QByteArray& bytes, StructureCheck::Limits limits = {})
{
    return StructureCheck::checkBytes(bytes.constData(), static_cast<std::size_t>(bytes.size()), false, limits);
}

// Raw deflate of `size` zero bytes in an OB value, after a meta group declaring deflate.
QByteArray deflatedZeros(std::size_t size)
{
    QByteArray length(4, '\0');
    for (int i = 0; i < 4; ++i)
        length[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    QByteArray patched = QByteArray::fromHex("10001000504e0800") + "DOE^JOHN" + QByteArray::fromHex("09001010") + "OB" +
                         QByteArray(2, '\0') + length + QByteArray(static_cast<int>(size), '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<int>(deflateBound(&z, static_cast<uLong>(patched.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(patched.data());
    z.avail_in = static_cast<uInt>(patched.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(static_cast<int>(z.total_out));
    deflateEnd(&z);
    return H::withMeta("1.2.840.10008.1.2.1.99", out);
}

TEST(StructureCheck, RefusesDeepNestingInEveryEncodingAndPassesSaneDepths)
{
    for (const Nesting nesting : {Nesting::ExplicitLittle, Nesting::ExplicitBig, Nesting::ImplicitNoMeta,
                                  Nesting::DefinedLength, Nesting::UnknownVr}) {
        const int n = static_cast<int>(nesting);
        const auto deep = checkOf(H::nestedSequences(nesting == Nesting::DefinedLength ? 300 : 5650, nesting));
        EXPECT_NE(deep.problem.find("nested more than 100 levels"), std::string::npos) << n << ": " << deep.problem;
        EXPECT_TRUE(deep.tooDeep && !deep.inflatesTooFar) << n;
        const auto sane = checkOf(H::nestedSequences(90, nesting));
        EXPECT_TRUE(sane.ok()) << n << ": " << sane.problem;
        EXPECT_FALSE(sane.truncated) << n;
    }
}

TEST(StructureCheck, GivesUpOnDataWithoutElementsAndPassesRealFiles)
{
    EXPECT_EQ(checkOf(QByteArray(1024, '\0')).problem, "no DICOM element");
    EXPECT_EQ(checkOf(QByteArray(1 << 20, '\0')).problem, "no DICOM element in its first 4096 bytes");
    EXPECT_FALSE(checkOf(H::withMeta("1.2.840.10008.1.2.1", QByteArray(8192, '\0'))).ok());
    // A nested value declaring nearly 4 GiB in a file of a few hundred bytes.
    const QByteArray overlong = QByteArray::fromHex("0800151153510000fffffffffeff00e0ffffffff09001010") + "OB" +
                                QByteArray::fromHex("0000f0ffffff") + "abcd";
    EXPECT_EQ(checkOf(H::withMeta("1.2.840.10008.1.2.1", overlong)).problem, "the data ends inside an element");
    // Letters that are no VR: DCMTK takes a 32-bit length ("abcd", 1.6 GB) where a 16-bit one (4) would fit.
    const QByteArray nonStandardVr = QByteArray::fromHex("200013f7") + "HS" + QByteArray::fromHex("0400") + "abcd";
    EXPECT_EQ(checkOf(H::withMeta("1.2.840.10008.1.2.1", nonStandardVr)).problem, "the data ends inside an element");
    // Cutting a file shows as truncation unless the cut falls between elements (or into the
    // padding after a deflated stream).
    const struct
    {
        const char* name;
        bool cutShows;
    } files[] = {{"CT_small.dcm", true},           {"MR_small_bigendian.dcm", true},
                 {"MR_small_implicit.dcm", true},  {"image_dfl.dcm", false},
                 {"nested_priv_SQ.dcm", false},    {"no_meta_group_length.dcm", false},
                 {"rtstruct.dcm", true},           {"MR_small_RLE.dcm", true},
                 {"dicomdirtests/DICOMDIR", true}, {"dicomdirtests/DICOMDIR-bigEnd", true}};
    for (const auto& file : files) {
        const QByteArray bytes =
            Dravelin::Test::readFile(Dravelin::Test::pydicomData(QString("test_files/") + file.name));
        ASSERT_FALSE(bytes.isEmpty()) << file.name;
        const auto whole = checkOf(bytes);
        EXPECT_TRUE(whole.ok()) << file.name << ": " << whole.problem;
        EXPECT_FALSE(whole.truncated) << file.name;
        EXPECT_TRUE(!file.cutShows || checkOf(bytes.left(bytes.size() / 2)).truncated) << file.name;
    }
    // A data set in implicit VR under an explicit transfer syntax is not a truncated file.
    const auto mislabelled =
        checkOf(Dravelin::Test::readFile(Dravelin::Test::pydicomData("test_files/SC_rgb_jpeg.dcm")));
    EXPECT_NE(mislabelled.problem.find("encoded in implicit VR"), std::string::npos) << mislabelled.problem;
    EXPECT_FALSE(mislabelled.truncated);
}

TEST(StructureCheck, CapsInflationAndRefusesFifos)
{
    StructureCheck::Limits small;
    small.maximumInflatedBytes = 1 << 20;
    EXPECT_TRUE(checkOf(deflatedZeros(512 * 1024), small).ok());
    const auto bomb = checkOf(deflatedZeros(4 << 20), small);
    EXPECT_EQ(bomb.problem, "its deflated data inflates to more than 1 MiB");
    EXPECT_TRUE(bomb.inflatesTooFar && !bomb.tooDeep);

    Dravelin::Test::TempDir dir;
    const std::string fifo = dir.file("fifo").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(StructureCheck::checkFile(fifo, true).problem, "not a regular file");
}

}  // namespace
}  // namespace Dravelin::Dicom
