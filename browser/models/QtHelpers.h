#pragma once

#include "host/dicom/Error.h"

#include <QDate>
#include <QDateTime>
#include <QImage>
#include <QString>
#include <QTime>

#include <optional>
#include <string>

class DcmDataset;

// Conversions of DICOM value texts into Qt values for display and filtering. Stateless and
// safe to call from any thread; none of them throws for bad input.
namespace Dravelin::QtHelpers {

// DA in one of the forms yyyyMMdd, yyMMdd, ddMMyyyy, ddMMyy; a null date otherwise.
QDate convertDICOMDate(const std::string& value);
// TM to a time rounded to milliseconds; a null time (and the parser's error in `error`) otherwise.
QTime convertDICOMTime(const std::string& value, std::optional<Dicom::Error>* error = nullptr);
// DT (date, optional time, optional UTC offset of 2 or 4 digits); an invalid value otherwise.
QDateTime convertDICOMDateTime(const std::string& value, std::optional<Dicom::Error>* error = nullptr);
QString convertDICOMSex(const QString& value);
// Person names and free text: "^" become blanks, white space is simplified.
QString formatStr(const QString& value);
// A preview of one frame (default: the first); a null image when it cannot be rendered.
QImage generateThumbnail(DcmDataset& dataset, bool flag, std::optional<unsigned int> frame = std::nullopt);

}  // namespace Dravelin::QtHelpers
