#include "browser/models/QtHelpers.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace Dravelin;

TEST(ConvertDICOMDate, AcceptsTheFourFormsInOrderAndRejectsTheRest)
{
    const std::pair<std::string, QDate> cases[] = {
        {"20240131", QDate(2024, 1, 31)},
        {"240131", QDate(1924, 1, 31)},
        {"31012024", QDate(2024, 1, 31)},
        // yyMMdd wins whenever it gives a valid date; ddMMyy only when its year is no day.
        {"310124", QDate(1931, 1, 24)},
        {"310100", QDate(1900, 1, 31)},
        // The value ends at its first NUL byte, as stray padding in files does.
        {std::string("20240131\0xyz", 12), QDate(2024, 1, 31)},
        {"", QDate()},
        {"2024-01-31", QDate()},
        {"2020.01.31", QDate()},
        {"20241340", QDate()},
    };
    for (const auto& [value, date] : cases)
        EXPECT_EQ(QtHelpers::convertDICOMDate(value), date) << value;
}

// The all-digit shortcut must give exactly what the format parser gives, valid or not.
TEST(ConvertDICOMDate, DigitShortcutAgreesWithTheFormatParser)
{
    const auto parsed = [](const std::string& value) {
        for (const char* format : {"yyyyMMdd", "yyMMdd", "ddMMyyyy", "ddMMyy"}) {
            const QDate date = QDate::fromString(QString::fromStdString(value), QString::fromLatin1(format));
            if (date.isValid())
                return date;
        }
        return QDate();
    };
    std::vector<std::string> values = {"00000000", "99999999", "20240229", "20230229", "29022024", "29022023",
                                       "31122024", "12312024", "000101",   "991231",   "311299",   "290200",
                                       "290201",   "000000",   "010100",   "19000101", "01010000"};
    unsigned seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int digits = (seed >> 8) % 2 ? 8 : 6;
        std::string v;
        for (int d = 0; d < digits; ++d) {
            seed = seed * 1103515245u + 12345u;
            // Bias towards plausible days and months so that valid dates are common.
            v += static_cast<char>('0' + ((seed >> 16) % (d % 2 ? 10 : 4)));
        }
        values.push_back(v);
    }
    for (const std::string& v : values)
        ASSERT_EQ(Dravelin::QtHelpers::convertDICOMDate(v), parsed(v)) << v;
}

TEST(ConvertDICOMTime, RoundsMicrosecondsHalfUp)
{
    EXPECT_EQ(QtHelpers::convertDICOMTime("123456.9996", nullptr), QTime(12, 34, 57, 0));
    EXPECT_EQ(QtHelpers::convertDICOMTime("123456.0004", nullptr), QTime(12, 34, 56, 0));
    EXPECT_EQ(QtHelpers::convertDICOMTime("123456.0005", nullptr), QTime(12, 34, 56, 1));
    // The last half millisecond of a day stays in that day.
    for (const char* lastMoment : {"235959.9995", "235959.999999"}) {
        EXPECT_EQ(QtHelpers::convertDICOMTime(lastMoment, nullptr), QTime(23, 59, 59, 999)) << lastMoment;
        const std::string dateTime = std::string("20240131") + lastMoment + "+0100";
        EXPECT_EQ(QtHelpers::convertDICOMDateTime(dateTime, nullptr),
                  QDateTime(QDate(2024, 1, 31), QTime(23, 59, 59, 999), Qt::OffsetFromUTC, 3600))
            << dateTime;
    }
}

TEST(ConvertDICOMTime, StoresTheParserErrorAndKeepsEarlierOnes)
{
    std::optional<Dicom::Error> error;
    EXPECT_TRUE(QtHelpers::convertDICOMTime("25xx", &error).isNull());
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, Dicom::Error::InvalidValue);
    // Success never clears a stored error.
    EXPECT_TRUE(QtHelpers::convertDICOMTime("120000", &error).isValid());
    EXPECT_TRUE(error.has_value());
}

TEST(ConvertDICOMDateTime, ReadsOffsets)
{
    const QDateTime plus = QtHelpers::convertDICOMDateTime("20240131123456+0130", nullptr);
    EXPECT_EQ(plus.date(), QDate(2024, 1, 31));
    EXPECT_EQ(plus.time(), QTime(12, 34, 56));
    EXPECT_EQ(plus.offsetFromUtc(), 5400);
    EXPECT_EQ(QtHelpers::convertDICOMDateTime("20240131123456-0130", nullptr).offsetFromUtc(), -5400);
    EXPECT_EQ(QtHelpers::convertDICOMDateTime("20240131123456+01", nullptr).offsetFromUtc(), 3600);

    const QDateTime noOffset = QtHelpers::convertDICOMDateTime("2024013112", nullptr);
    EXPECT_EQ(noOffset.time(), QTime(12, 0));
    EXPECT_EQ(noOffset.offsetFromUtc(), 0);

    const QDateTime dateOnly = QtHelpers::convertDICOMDateTime("20240131", nullptr);
    EXPECT_TRUE(dateOnly.isValid());
    EXPECT_EQ(dateOnly.time(), QTime(0, 0));
}

TEST(ConvertDICOMDateTime, ReportsEachFailure)
{
    const std::tuple<std::string, Dicom::Error::Code, std::string> cases[] = {
        {"", Dicom::Error::InvalidValue, "Cannot parse DateTime from empty string"},
        {"2024", Dicom::Error::NotSupported, "DateTime without a day component are currently not supported"},
        {"20240131123456+1", Dicom::Error::NotSupported, "Only 4 or 2 digit timezones are supported"},
        {"20240131123456+ab", Dicom::Error::InvalidValue,
         "Timezone of a DateTime is expected to be integral but got ab"},
    };
    for (const auto& [value, code, message] : cases) {
        std::optional<Dicom::Error> error;
        EXPECT_FALSE(QtHelpers::convertDICOMDateTime(value, &error).isValid()) << value;
        ASSERT_TRUE(error.has_value()) << value;
        EXPECT_EQ(error->code, code) << value;
        EXPECT_EQ(error->type, Dicom::Error::Warning) << value;
        EXPECT_EQ(error->message, message);
        EXPECT_FALSE(error->tag.has_value());
    }
    // A bad date is invalid without an error; a bad time carries the time parser's error.
    std::optional<Dicom::Error> error;
    EXPECT_FALSE(QtHelpers::convertDICOMDateTime("20241340120000", &error).isValid());
    EXPECT_FALSE(error.has_value());
    EXPECT_FALSE(QtHelpers::convertDICOMDateTime("2024013199", &error).isValid());
    EXPECT_TRUE(error.has_value());
    EXPECT_FALSE(QtHelpers::convertDICOMDateTime("20240131+ab", nullptr).isValid());
}

TEST(FormatStr, ReplacesCaretsAndSimplifies)
{
    EXPECT_EQ(QtHelpers::formatStr("A^B^^^"), "A B");
    EXPECT_EQ(QtHelpers::formatStr("  A^^B  "), "A B");
    EXPECT_EQ(QtHelpers::formatStr("Doe^Jane\t^Q."), "Doe Jane Q.");
    EXPECT_EQ(QtHelpers::formatStr(""), "");
}

TEST(GenerateThumbnail, DatasetWithoutPixelsGivesNullImage)
{
    DcmDataset dataset;
    EXPECT_TRUE(QtHelpers::generateThumbnail(dataset, true, std::nullopt).isNull());
    EXPECT_TRUE(QtHelpers::generateThumbnail(dataset, false, 3u).isNull());
}
