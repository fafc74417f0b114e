#include "host/data/DataSourceComponent.h"

#include <algorithm>

namespace Dravelin {

DataSourceComponent::DataSourceComponent(std::vector<Source> sources) : m_sources(std::move(sources)) {}

QString DataSourceComponent::id() const
{
    return QStringLiteral("DataSource");
}

std::unique_ptr<DataComponent> DataSourceComponent::clone() const
{
    return std::make_unique<DataSourceComponent>(m_sources);
}

void DataSourceComponent::addSource(const QString& location, const QString& reader)
{
    m_sources.push_back({location, reader});
}

bool DataSourceComponent::allReadersContain(const QString& text) const
{
    return !m_sources.empty() &&
           std::all_of(m_sources.begin(), m_sources.end(), [&](const Source& s) { return s.reader.contains(text); });
}

}  // namespace Dravelin
