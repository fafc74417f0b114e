#include "scanning/Image.h"

#include "host/dicom/Element.h"
#include "scanning/RecordTags.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <algorithm>
#include <cmath>

namespace Dravelin::Dicom {

namespace {

QString text(DcmItem& item, const DcmTag& tag, const QString& defaultValue = QString())
{
    return Element<QString>(item, tag, ElementBase::Optional, false).value(defaultValue);
}

std::vector<double> numbers(DcmItem& item, const DcmTag& tag, bool tolerant)
{
    return Element<std::vector<double>>(item, tag, ElementBase::Optional, tolerant).value({});
}

// Copies as many leading values as both hold; the rest keep their zero.
template <size_t N>
void copyLeading(const std::vector<double>& values, std::array<double, N>& out)
{
    std::copy_n(values.begin(), std::min(values.size(), N), out.begin());
}

// Same as the reader's throwing value() with the exception caught, without paying for an
// exception in every file that lacks the element (most do).
std::optional<double> optionalNumber(DcmItem& item, const DcmTag& tag, bool tolerant)
{
    return Element<double>(item, tag, ElementBase::Optional, tolerant).get();
}

std::optional<int> toInt(const QString& value)
{
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    return ok ? std::optional<int>(number) : std::nullopt;
}

QString joinImageType(const std::vector<std::string>& values)
{
    std::string joined;
    for (const std::string& value : values) {
        joined += value;
        joined += '\\';
    }
    if (!joined.empty())
        joined.pop_back();
    return QString::fromStdString(joined);
}

// Enhanced multi-frame objects keep their spacing in the shared functional groups only.
void readEnhancedPixelMeasures(DcmItem& item, std::array<double, 2>& pixelSpacing,
                               std::optional<double>& spacingBetweenSlices)
{
    DcmItem* shared = nullptr;
    if (item.findAndGetSequenceItem(DCM_SharedFunctionalGroupsSequence, shared, 0).bad() || !shared)
        return;
    DcmItem* measures = nullptr;
    if (shared->findAndGetSequenceItem(DCM_PixelMeasuresSequence, measures, 0).bad() || !measures)
        return;
    const RecordTags& tags = RecordTags::get();
    if (std::fabs(pixelSpacing[0]) <= 1e-12 && std::fabs(pixelSpacing[1]) <= 1e-12)
        copyLeading(numbers(*measures, tags.pixelSpacing, false), pixelSpacing);
    if (!spacingBetweenSlices)
        spacingBetweenSlices = optionalNumber(*measures, tags.spacingBetweenSlices, false);
}

}  // namespace

Image::Image(Series* series) : series(series) {}

Image::Image(Series* series, DcmItem& item) : series(series)
{
    const RecordTags& tags = RecordTags::get();
    const QString question = QStringLiteral("?");

    QString sopUid = text(item, tags.sopInstanceUid);
    QString instanceText = text(item, tags.instanceNumber);
    const QString acquisitionText = text(item, tags.acquisitionNumber);
    const std::vector<std::string> types =
        Element<std::vector<std::string>>(item, tags.imageType, ElementBase::Optional, false).value({});
    QString columns = text(item, tags.columns, question);
    QString rows = text(item, tags.rows, question);
    QString samples = text(item, tags.samplesPerPixel, question);
    QString bits = text(item, tags.bitsAllocated, question);
    QString frames = text(item, tags.numberOfFrames, QStringLiteral("1"));
    QString thickness = text(item, tags.sliceThickness);
    QString protocol = text(item, tags.protocolName);
    QString bodyPart = text(item, tags.bodyPartExamined);
    QString maker = text(item, tags.manufacturer);
    QString model = text(item, tags.manufacturerModelName);
    const std::vector<double> position = numbers(item, tags.imagePosition, false);
    const std::vector<double> orientation = numbers(item, tags.imageOrientation, false);
    const std::vector<double> spacing = numbers(item, tags.pixelSpacing, true);
    const std::optional<double> betweenSlices = optionalNumber(item, tags.spacingBetweenSlices, true);

    sopInstanceUid = std::move(sopUid);
    instanceNumberText = std::move(instanceText);
    instanceNumber = toInt(instanceNumberText);
    acquisitionNumber = toInt(acquisitionText);
    imageType = joinImageType(types);
    width = std::move(columns);
    height = std::move(rows);
    channels = std::move(samples);
    bitsAllocated = std::move(bits);
    numberOfFrames = std::move(frames);
    sliceThickness = std::move(thickness);
    protocolName = std::move(protocol);
    bodyPartExamined = std::move(bodyPart);
    manufacturer = std::move(maker);
    manufacturerModelName = std::move(model);
    copyLeading(position, imagePosition);
    copyLeading(orientation, imageOrientation);
    copyLeading(spacing, pixelSpacing);
    spacingBetweenSlices = betweenSlices;

    readEnhancedPixelMeasures(item, pixelSpacing, spacingBetweenSlices);
}

bool compareInstanceNumbers(const Image* a, const Image* b)
{
    return a->instanceNumber.value_or(-1) < b->instanceNumber.value_or(-1);
}

bool compareAcquisitionNumbers(const Image* a, const Image* b)
{
    return a->acquisitionNumber.value_or(-1) < b->acquisitionNumber.value_or(-1);
}

}  // namespace Dravelin::Dicom
