#include "editor/TagParameterName.h"

#include <QStringList>

namespace Dravelin {

QString tagParameterName(Dicom::TagProxy tag)
{
    return QStringLiteral("(%1,%2)").arg(tag.group, 4, 16, QLatin1Char('0')).arg(tag.element, 4, 16, QLatin1Char('0'));
}

std::optional<Dicom::TagProxy> parseTag(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return std::nullopt;
    const auto group = parts[0].right(4).toUShort(nullptr, 16);
    const auto element = parts[1].left(4).toUShort(nullptr, 16);
    return Dicom::TagProxy(group, element);
}

}  // namespace Dravelin
