#include "host/data/LabelTableDataComponent.h"

namespace Dravelin {

QString LabelTableDataComponent::id() const
{
    return QStringLiteral("LabelTable");
}

std::unique_ptr<DataComponent> LabelTableDataComponent::clone() const
{
    auto copy = std::make_unique<LabelTableDataComponent>();
    copy->m_entries = m_entries;
    return copy;
}

QColor LabelTableDataComponent::colorOf(std::uint16_t label) const
{
    if (auto found = m_entries.find(label); found != m_entries.end() && found->second.color.isValid())
        return found->second.color;
    // Golden-angle hues: consecutive labels land far apart on the colour wheel.
    return QColor::fromHsv(static_cast<int>((label * 137.508)) % 360, 200, 255);
}

}  // namespace Dravelin
