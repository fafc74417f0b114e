#include "host/data/PixelType.h"

namespace Dravelin {

std::size_t bytesPerChannel(PixelType type)
{
    switch (type) {
        case PixelType::UInt8:
        case PixelType::RGB: return 1;
        case PixelType::Int16:
        case PixelType::UInt16: return 2;
        case PixelType::Int32:
        case PixelType::Float: return 4;
    }
    return 1;
}

int channelsOf(PixelType type)
{
    return type == PixelType::RGB ? 3 : 1;
}

QString pixelTypeName(PixelType type)
{
    switch (type) {
        case PixelType::UInt8: return QStringLiteral("uint8");
        case PixelType::Int16: return QStringLiteral("int16");
        case PixelType::UInt16: return QStringLiteral("uint16");
        case PixelType::Int32: return QStringLiteral("int32");
        case PixelType::Float: return QStringLiteral("float");
        case PixelType::RGB: return QStringLiteral("rgb");
    }
    return QString();
}

}  // namespace Dravelin
