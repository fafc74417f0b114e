#include "scanning/Image.h"

#include "host/dicom/Element.h"
#include "scanning/RecordElements.h"
#include "scanning/RecordTags.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>

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

// Most images of a series repeat these values byte for byte (size, maker, spacing...): each
// thread keeps the last value read per field and hands out a shared copy while the bytes stay
// the same, instead of converting and allocating again for every image.
enum MemoSlot {
    kColumns,
    kRows,
    kSamples,
    kBits,
    kFrames,
    kThickness,
    kProtocol,
    kBodyPart,
    kMaker,
    kModel,
    kBurnedIn,
    kOrientation,
    kSpacing,
    kImageType,
    kSlotCount
};

template <typename T>
struct Memo
{
    std::string bytes;
    char vr[2] = {0, 0};
    bool valid = false;
    T value;
};

template <typename T>
T remembered(const RecordElements& fields, const DcmTag& tag, MemoSlot slot,
             T (*read)(const RecordElements&, const DcmTag&))
{
    const EncodedValue* raw = fields.encoded(tag);
    if (!raw)
        return read(fields, tag);
    thread_local std::array<Memo<T>, kSlotCount> memo;
    Memo<T>& m = memo[slot];
    if (m.valid && m.vr[0] == raw->vr[0] && m.vr[1] == raw->vr[1] && std::string_view(m.bytes) == raw->bytes)
        return m.value;
    m.value = read(fields, tag);
    m.bytes.assign(raw->bytes);
    m.vr[0] = raw->vr[0];
    m.vr[1] = raw->vr[1];
    m.valid = true;
    return m.value;
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

    QString sopUid = text(fields, tags.sopInstanceUid);
    QString instanceText = text(fields, tags.instanceNumber);
    const QString acquisitionText = text(fields, tags.acquisitionNumber);
    QString types =
        remembered<QString>(fields, tags.imageType, kImageType, [](const RecordElements& f, const DcmTag& t) {
            return joinImageType(f.value<std::vector<std::string>>(t, ElementBase::Optional, false, {}));
        });
    using Read = QString (*)(const RecordElements&, const DcmTag&);
    const Read plain = [](const RecordElements& f, const DcmTag& t) { return text(f, t); };
    const Read orQuestion = [](const RecordElements& f, const DcmTag& t) { return text(f, t, QStringLiteral("?")); };
    QString columns = remembered(fields, tags.columns, kColumns, orQuestion);
    QString rows = remembered(fields, tags.rows, kRows, orQuestion);
    QString samples = remembered(fields, tags.samplesPerPixel, kSamples, orQuestion);
    QString bits = remembered(fields, tags.bitsAllocated, kBits, orQuestion);
    QString frames =
        remembered<QString>(fields, tags.numberOfFrames, kFrames,
                            [](const RecordElements& f, const DcmTag& t) { return text(f, t, QStringLiteral("1")); });
    QString thickness = remembered(fields, tags.sliceThickness, kThickness, plain);
    QString protocol = remembered(fields, tags.protocolName, kProtocol, plain);
    QString bodyPart = remembered(fields, tags.bodyPartExamined, kBodyPart, plain);
    QString maker = remembered(fields, tags.manufacturer, kMaker, plain);
    QString model = remembered(fields, tags.manufacturerModelName, kModel, plain);
    const std::vector<double> position = numbers(fields, tags.imagePosition, false);
    const std::vector<double> orientation =
        remembered<std::vector<double>>(fields, tags.imageOrientation, kOrientation,
                                        [](const RecordElements& f, const DcmTag& t) { return numbers(f, t, false); });
    const std::vector<double> spacing =
        remembered<std::vector<double>>(fields, tags.pixelSpacing, kSpacing,
                                        [](const RecordElements& f, const DcmTag& t) { return numbers(f, t, true); });
    const std::optional<double> betweenSlices = optionalNumber(fields, tags.spacingBetweenSlices, true);

    sopInstanceUid = std::move(sopUid);
    instanceNumberText = std::move(instanceText);
    instanceNumber = numberInText(instanceNumberText);
    acquisitionNumber = numberInText(acquisitionText);
    imageType = std::move(types);
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
    burnedInAnnotation =
        remembered(fields, tags.burnedInAnnotation, kBurnedIn, plain).trimmed() == QLatin1String("YES");

    // Values from a RawHeader come from files without the functional groups (the scanner
    // lets DCMTK read the others).
    if (DcmItem* item = fields.item())
        readEnhancedPixelMeasures(*item, fields, pixelSpacing, spacingBetweenSlices);
}

std::optional<int> numberInText(const QString& text)
{
    // Plain digits (nearly every instance number and size) without QString's locale-aware parse.
    if (!text.isEmpty() && text.size() <= 9 &&
        std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; })) {
        int number = 0;
        for (const QChar c : text)
            number = number * 10 + (c.unicode() - '0');
        return number;
    }
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    return ok ? std::optional<int>(number) : std::nullopt;
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
