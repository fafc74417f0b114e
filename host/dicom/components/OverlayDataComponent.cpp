#include "host/dicom/components/OverlayDataComponent.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcitem.h>

namespace Dravelin::Dicom {

bool OverlayDataComponent::Overlay::isSet(int frame, int row, int column) const
{
    if (frame < 0 || frame >= static_cast<int>(bits.size()) || row < 0 || row >= rows || column < 0 ||
        column >= columns)
        return false;
    return bits[std::size_t(frame)][std::size_t(row) * std::size_t(columns) + std::size_t(column)] != 0;
}

QString OverlayDataComponent::id() const
{
    return QStringLiteral("DicomOverlay");
}

std::unique_ptr<DataComponent> OverlayDataComponent::clone() const
{
    auto copy = std::make_unique<OverlayDataComponent>();
    copy->overlays = overlays;
    return copy;
}

std::vector<OverlayDataComponent::Overlay> OverlayDataComponent::read(DcmItem& dataset)
{
    std::vector<Overlay> result;
    for (Uint16 group = 0x6000; group <= 0x601E; group += 2) {
        Uint16 rows = 0, columns = 0;
        if (dataset.findAndGetUint16(DcmTagKey(group, 0x0010), rows).bad() ||
            dataset.findAndGetUint16(DcmTagKey(group, 0x0011), columns).bad() || rows == 0 || columns == 0)
            continue;
        DcmElement* data = nullptr;
        if (dataset.findAndGetElement(DcmTagKey(group, 0x3000), data).bad() || !data)
            continue;  // overlays embedded in the pixel data's unused bits are not supported
        Overlay o;
        o.group = group;
        o.rows = rows;
        o.columns = columns;
        Sint16 origin = 1;
        if (dataset.findAndGetSint16(DcmTagKey(group, 0x0050), origin, 0).good())
            o.originRow = origin;
        if (dataset.findAndGetSint16(DcmTagKey(group, 0x0050), origin, 1).good())
            o.originColumn = origin;
        OFString text;
        if (dataset.findAndGetOFString(DcmTagKey(group, 0x0015), text).good() && !text.empty())
            o.frames = std::max(1, std::atoi(text.c_str()));
        Uint16 firstFrame = 1;
        if (dataset.findAndGetUint16(DcmTagKey(group, 0x0051), firstFrame).good())
            o.firstFrame = firstFrame;
        if (dataset.findAndGetOFString(DcmTagKey(group, 0x0040), text).good())
            o.type = text.c_str();
        if (dataset.findAndGetOFString(DcmTagKey(group, 0x0022), text).good())
            o.description = text.c_str();
        if (dataset.findAndGetOFString(DcmTagKey(group, 0x1500), text).good())
            o.label = text.c_str();
        // Bits are packed least significant first and run on across frames.
        Uint8* bytes = nullptr;
        Uint16* words = nullptr;
        const std::uint8_t* packed = nullptr;
        if (data->getVR() == EVR_OW && data->getUint16Array(words).good())
            packed = reinterpret_cast<const std::uint8_t*>(words);
        else if (data->getUint8Array(bytes).good())
            packed = bytes;
        if (!packed)
            continue;
        const std::size_t available = std::size_t(data->getLength()) * 8;
        const std::size_t perFrame = std::size_t(rows) * columns;
        for (int f = 0; f < o.frames && (std::size_t(f) + 1) * perFrame <= available; ++f) {
            std::vector<std::uint8_t> plane(perFrame);
            for (std::size_t i = 0; i < perFrame; ++i) {
                const std::size_t bit = std::size_t(f) * perFrame + i;
                plane[i] = (packed[bit / 8] >> (bit % 8)) & 1u;
            }
            o.bits.push_back(std::move(plane));
        }
        if (!o.bits.empty())
            result.push_back(std::move(o));
    }
    return result;
}

}  // namespace Dravelin::Dicom
