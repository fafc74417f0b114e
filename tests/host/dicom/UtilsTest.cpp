#include "host/dicom/Utils.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace Dravelin::Dicom;

namespace {

std::int64_t micros(int h, int m, int s, int us = 0)
{
    return ((h * 60LL + m) * 60 + s) * 1000000 + us;
}

std::int64_t timeOf(const std::string& text)
{
    auto r = Utils::parseDICOMTime(text);
    if (auto* e = std::get_if<Error>(&r))
        ADD_FAILURE() << text << ": " << e->message;
    return std::holds_alternative<std::int64_t>(r) ? std::get<std::int64_t>(r) : -1;
}

bool isError(const std::string& text)
{
    auto r = Utils::parseDICOMTime(text);
    if (auto* e = std::get_if<Error>(&r)) {
        EXPECT_EQ(e->code, Error::InvalidValue);
        EXPECT_EQ(e->type, Error::Warning);
        return true;
    }
    return false;
}

}  // namespace

TEST(ParseDICOMTime, AcceptsEveryLegalForm)
{
    EXPECT_EQ(timeOf("07"), micros(7, 0, 0));
    EXPECT_EQ(timeOf("0712"), micros(7, 12, 0));
    EXPECT_EQ(timeOf("071230"), micros(7, 12, 30));
    EXPECT_EQ(timeOf("071230.5"), micros(7, 12, 30, 500000));
    EXPECT_EQ(timeOf("071230.000123"), micros(7, 12, 30, 123));
    EXPECT_EQ(timeOf("235959.999999"), micros(23, 59, 59, 999999));
    EXPECT_EQ(timeOf("12:34:56.25"), micros(12, 34, 56, 250000));
    EXPECT_EQ(timeOf("12:34"), micros(12, 34, 0));
    EXPECT_EQ(timeOf("101010 "), micros(10, 10, 10));  // padding
    EXPECT_EQ(timeOf(std::string("1010\0", 5)), micros(10, 10, 0));
}

TEST(ParseDICOMTime, RejectsMalformedValues)
{
    for (const char* bad : {"", "   ", "24", "2400", "1260", "126061", "1", "123", "12345", "1234.5", "120000.1234567",
                            "12a000", "12:3", "12-34-56", "120000.", "ab"})
        EXPECT_TRUE(isError(bad)) << bad;
    auto r = Utils::parseDICOMTime("");
    ASSERT_TRUE(std::holds_alternative<Error>(r));
    EXPECT_EQ(std::get<Error>(r).message, "Cannot parse Time from empty string");
}

TEST(ParseDICOMSex, MapsCodesToTexts)
{
    EXPECT_EQ(Utils::parseDICOMSex("M"), "Male");
    EXPECT_EQ(Utils::parseDICOMSex("f "), "Female");
    EXPECT_EQ(Utils::parseDICOMSex("O"), "Other");
    EXPECT_EQ(Utils::parseDICOMSex(""), "Unknown");
    EXPECT_EQ(Utils::parseDICOMSex(" X "), "X");
    EXPECT_EQ(Utils::parseDICOMSex("MALE"), "MALE");
}

TEST(HasDicomHeader, ChecksPreambleAndMagic)
{
    auto file = [](const char* name) {
        return Dravelin::Test::pydicomData(QString("test_files/") + name).toStdString();
    };
    EXPECT_TRUE(Utils::hasDicomHeader(file("CT_small.dcm")));
    EXPECT_TRUE(Utils::hasDicomHeader(file("JPEG2000.dcm")));
    EXPECT_FALSE(Utils::hasDicomHeader(file("no_meta.dcm")));
    EXPECT_FALSE(Utils::hasDicomHeader(file("ExplVR_LitEndNoMeta.dcm")));
    EXPECT_FALSE(Utils::hasDicomHeader(file("README.txt")));
    EXPECT_FALSE(Utils::hasDicomHeader(file("does-not-exist.dcm")));
    EXPECT_FALSE(Utils::hasDicomHeader(Dravelin::Test::pydicomData("test_files").toStdString()));

    Dravelin::Test::TempDir dir;
    ASSERT_TRUE(Dravelin::Test::writeFile(dir.file("zero.dcm"), ""));
    EXPECT_FALSE(Utils::hasDicomHeader(dir.file("zero.dcm").toStdString()));
    ASSERT_TRUE(Dravelin::Test::writeFile(dir.file("short.dcm"), QByteArray(128, '\0') + "DIC"));
    EXPECT_FALSE(Utils::hasDicomHeader(dir.file("short.dcm").toStdString()));
}
