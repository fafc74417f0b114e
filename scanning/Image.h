#pragma once

#include "host/core/Url.h"
#include "scanning/Base.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class DcmItem;

namespace Dravelin::Dicom {

class RecordElements;
class Series;

// One DICOM instance: one file, or one query response.
class Image : public Base
{
public:
    explicit Image(Series* series);
    Image(Series* series, DcmItem& item);
    Image(Series* series, const RecordElements& fields);

    Series* series = nullptr;  // not owned
    QString sopInstanceUid;
    QString instanceNumberText;
    QString imageType;       // values joined by "\"
    QString width;           // "?" when absent
    QString height;          // "?" when absent
    QString channels;        // "?" when absent
    QString bitsAllocated;   // "?" when absent
    QString numberOfFrames;  // "1" when absent
    QString sliceThickness;
    QString protocolName;
    QString bodyPartExamined;
    QString manufacturer;
    QString manufacturerModelName;
    Filesystem::Url location;
    std::array<double, 3> imagePosition{0, 0, 0};
    std::array<double, 6> imageOrientation{0, 0, 0, 0, 0, 0};
    std::array<double, 2> pixelSpacing{0, 0};  // row spacing, column spacing
    std::optional<double> spacingBetweenSlices;
    std::optional<int> instanceNumber;
    std::optional<int> acquisitionNumber;
    // BurnedInAnnotation "YES": the pixels show text (which de-identification does not remove).
    bool burnedInAnnotation = false;
    // Where a folder scan met the file (rising across scans), 0 otherwise: images of equal
    // instance numbers keep the order of their files whichever thread read them first.
    std::uint32_t scanOrder = 0;
};

// As QString::toInt(&ok, 10) on a record's text ("512", " 3 "): the number, or nothing.
std::optional<int> numberInText(const QString& text);

// Strict less-than orders; a missing number counts as -1.
bool compareInstanceNumbers(const Image* a, const Image* b);
bool compareAcquisitionNumbers(const Image* a, const Image* b);

}  // namespace Dravelin::Dicom
