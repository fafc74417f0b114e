#include "browser/models/QtHelpers.h"

#include "host/app/QtImageIO.h"
#include "host/dicom/Utils.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Dravelin::QtHelpers {

namespace {

void storeError(std::optional<Dicom::Error>* error, Dicom::Error::Code code, std::string message)
{
    if (error)
        *error = Dicom::Error(code, Dicom::Error::Warning, std::move(message));
}

}  // namespace

QDate convertDICOMDate(const std::string& value)
{
    if (value.empty())
        return QDate();
    const size_t length = std::strlen(value.c_str());
    // Scans convert three dates per file: read the all-digit forms directly and leave the
    // format parser to everything else. Both give the same dates for these texts.
    if ((length == 8 || length == 6) &&
        std::all_of(value.begin(), value.begin() + length, [](char c) { return c >= '0' && c <= '9'; })) {
        const auto number = [&](size_t at, size_t digits) {
            int n = 0;
            for (size_t i = at; i < at + digits; ++i)
                n = n * 10 + (value[i] - '0');
            return n;
        };
        if (length == 8) {
            const QDate yearFirst(number(0, 4), number(4, 2), number(6, 2));
            return yearFirst.isValid() ? yearFirst : QDate(number(4, 4), number(2, 2), number(0, 2));
        }
        const QDate yearFirst(1900 + number(0, 2), number(2, 2), number(4, 2));
        return yearFirst.isValid() ? yearFirst : QDate(1900 + number(4, 2), number(2, 2), number(0, 2));
    }
    const QString text = QString::fromLatin1(value.c_str(), static_cast<int>(length));
    for (const char* format : {"yyyyMMdd", "yyMMdd", "ddMMyyyy", "ddMMyy"}) {
        const QDate date = QDate::fromString(text, QString::fromLatin1(format));
        if (date.isValid())
            return date;
    }
    return QDate();
}

QTime convertDICOMTime(const std::string& value, std::optional<Dicom::Error>* error)
{
    auto parsed = Dicom::Utils::parseDICOMTime(value);
    if (auto* failure = std::get_if<Dicom::Error>(&parsed)) {
        if (error)
            *error = std::move(*failure);
        return QTime();
    }
    const std::int64_t micro = std::get<std::int64_t>(parsed);
    const std::int64_t milli = micro / 1000 + (micro % 1000 >= 500 ? 1 : 0);
    // Rounding must not carry the last half millisecond of a day over into the next one.
    constexpr std::int64_t lastMilliOfDay = 24 * 3600 * 1000 - 1;
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(std::min(milli, lastMilliOfDay)));
}

QDateTime convertDICOMDateTime(const std::string& value, std::optional<Dicom::Error>* error)
{
    if (value.empty()) {
        storeError(error, Dicom::Error::InvalidValue, "Cannot parse DateTime from empty string");
        return QDateTime();
    }
    if (value.size() < 8) {
        storeError(error, Dicom::Error::NotSupported, "DateTime without a day component are currently not supported");
        return QDateTime();
    }

    size_t sign = value.find('+');
    if (sign == std::string::npos)
        sign = value.find('-');
    const std::string datePart = value.substr(0, 8);
    const size_t timeEnd = (sign == std::string::npos || sign < 8) ? value.size() : sign;
    const std::string timePart = value.substr(8, timeEnd - 8);
    const std::string offsetText = sign == std::string::npos ? std::string() : value.substr(sign + 1);

    int offset = 0;
    if (!offsetText.empty()) {
        if (offsetText.size() != 2 && offsetText.size() != 4) {
            storeError(error, Dicom::Error::NotSupported, "Only 4 or 2 digit timezones are supported");
            return QDateTime();
        }
        try {
            offset = std::stoi(offsetText.substr(0, 2)) * 3600;
            if (offsetText.size() == 4)
                offset += std::stoi(offsetText.substr(2)) * 60;
        } catch (const std::exception&) {
            storeError(error, Dicom::Error::InvalidValue,
                       fmt::format("Timezone of a DateTime is expected to be integral but got {}", offsetText));
            return QDateTime();
        }
        if (value[sign] == '-')
            offset = -offset;
    }

    const QDate date = convertDICOMDate(datePart);
    if (date.isNull())
        return QDateTime();
    const QTime time = convertDICOMTime(timePart, error);
    if (!timePart.empty() && time.isNull())
        return QDateTime();
    return QDateTime(date, time, Qt::OffsetFromUTC, offset);
}

QString convertDICOMSex(const QString& value)
{
    return QString::fromStdString(Dicom::Utils::parseDICOMSex(value.toStdString()));
}

QString formatStr(const QString& value)
{
    QString text = value;
    text.replace(QLatin1Char('^'), QLatin1Char(' '));
    return text.simplified();
}

QImage generateThumbnail(DcmDataset& dataset, bool flag, std::optional<unsigned int> frame)
{
    std::optional<int> frameIndex;
    if (frame)
        frameIndex = static_cast<int>(*frame);
    const std::unique_ptr<MemImage> image = Dicom::Utils::generatePreview(dataset, flag, frameIndex);
    if (!image)
        return QImage();
    return QtImageIO::convertMemToQt(*image);
}

}  // namespace Dravelin::QtHelpers
