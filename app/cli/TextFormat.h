#pragma once

#include "scanning/DimensionsInfo.h"

#include <QDate>
#include <QString>
#include <QTextStream>
#include <QTime>

#include <vector>

namespace Dravelin::Dicom {
class Patient;
class Study;
class Series;
class Image;
}  // namespace Dravelin::Dicom

// Text of study tree records for the command-line tool: one line per record, fields as
// key=value, texts quoted so that empty values stay visible.
namespace Dravelin::Cli::TextFormat {

// The text with control characters written as \n, \r, \t or \xHH, so that values read from
// files cannot drive the terminal (ESC sequences, carriage returns over earlier output).
QString printable(const QString& text, bool keepLineFeeds = false);
// Printable, in double quotes, inner quotes escaped.
QString quoted(const QString& text);
QString date(const QDate& value);  // yyyy-MM-dd, "-" when null
QString time(const QTime& value);  // HH:mm:ss.zzz, "-" when null
// "3D 64x64x20 (0.7mm x 0.7mm x 2.5mm)"; kinds and spacing texts as the browser shows them.
QString dimensions(const Dicom::DimensionsInfo& info);

QString patientLine(const Dicom::Patient& patient);
QString studyLine(const Dicom::Study& study);
QString seriesLine(const Dicom::Series& series);
QString imageLine(const Dicom::Image& image);

// The whole tree, indented by two blanks per level.
void printTree(QTextStream& out, const std::vector<Dicom::Patient*>& patients);

}  // namespace Dravelin::Cli::TextFormat
