#include "scanning/Image.h"

#include "host/dicom/Element.h"
#include "scanning/RecordElements.h"
#include "scanning/RecordTags.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <algorithm>
#include <cmath>

namespace Dravelin::Dicom {

namespace {

QString text(const RecordElements& fields, const DcmTag& tag, const QString& defaultValue = QString())
{
    return fields.value<QString>(tag, ElementBase::Optional, false, defaultValue);
}

std::vector<double> numbers(const RecordElements& fields, const DcmTag& tag, bool tolerant)
{
    return fields.value<std::vector<double>>(tag, ElementBase::Optional, tolerant, {});
}

// Copies as many leading values as both hold; the rest keep their zero.
template <size_t N>
void copyLeading(const std::vector<double>& values, std::array<double, N>& out)
{
    std::copy_n(values.begin(), std::min(values.size(), N), out.begin());
}

// Same as the reader's throwing value() with the exception caught, without paying for an
// exception in every file that lacks the element (most do).
std::optional<double> optionalNumber(const RecordElements& fields, const DcmTag& tag, bool tolerant)
{
    return fields.get<double>(tag, tolerant);
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
void readEnhancedPixelMeasures(DcmItem& item, const RecordElements& fields, std::array<double, 2>& pixelSpacing,
                               std::optional<double>& spacingBetweenSlices)
{
    if (!fields.contains(DCM_SharedFunctionalGroupsSequence))
        return;
    DcmItem* shared = nullptr;
    if (item.findAndGetSequenceItem(DCM_SharedFunctionalGroupsSequence, shared, 0).bad() || !shared)
        return;
    DcmItem* measures = nullptr;
    if (shared->findAndGetSequenceItem(DCM_PixelMeasuresSequence, measures, 0).bad() || !measures)
        return;
    const RecordTags& tags = RecordTags::get();
    const RecordElements measureFields(*measures);
    if (std::fabs(pixelSpacing[0]) <= 1e-12 && std::fabs(pixelSpacing[1]) <= 1e-12)
        copyLeading(numbers(measureFields, tags.pixelSpacing, false), pixelSpacing);
    if (!spacingBetweenSlices)
        spacingBetweenSlices = optionalNumber(measureFields, tags.spacingBetweenSlices, false);
}

}  // namespace

Image::Image(Series* series) : series(series) {}

Image::Image(Series* series, DcmItem& item) : Image(series, RecordElements(item)) {}

Image::Image(Series* series, const RecordElements& fields) : series(series)
{
    const RecordTags& tags = RecordTags::get();
    const QString question = QStringLiteral("?");

    QString sopUid = text(fields, tags.sopInstanceUid);
    QString instanceText = text(fields, tags.instanceNumber);
    const QString acquisitionText = text(fields, tags.acquisitionNumber);
    const std::vector<std::string> types =
        fields.value<std::vector<std::string>>(tags.imageType, ElementBase::Optional, false, {});
    QString columns = text(fields, tags.columns, question);
    QString rows = text(fields, tags.rows, question);
    QString samples = text(fields, tags.samplesPerPixel, question);
    QString bits = text(fields, tags.bitsAllocated, question);
    QString frames = text(fields, tags.numberOfFrames, QStringLiteral("1"));
    QString thickness = text(fields, tags.sliceThickness);
    QString protocol = text(fields, tags.protocolName);
    QString bodyPart = text(fields, tags.bodyPartExamined);
    QString maker = text(fields, tags.manufacturer);
    QString model = text(fields, tags.manufacturerModelName);
    const std::vector<double> position = numbers(fields, tags.imagePosition, false);
    const std::vector<double> orientation = numbers(fields, tags.imageOrientation, false);
    const std::vector<double> spacing = numbers(fields, tags.pixelSpacing, true);
    const std::optional<double> betweenSlices = optionalNumber(fields, tags.spacingBetweenSlices, true);

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
    burnedInAnnotation = text(fields, tags.burnedInAnnotation).trimmed() == QLatin1String("YES");

    // Values from a RawHeader come from files without the functional groups (the scanner
    // lets DCMTK read the others).
    if (DcmItem* item = fields.item())
        readEnhancedPixelMeasures(*item, fields, pixelSpacing, spacingBetweenSlices);
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
