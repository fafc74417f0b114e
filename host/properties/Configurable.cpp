#include "host/properties/Configurable.h"

#include "host/properties/Parameter.h"

#include <algorithm>

namespace Dravelin {

Configurable::~Configurable() = default;

void Configurable::configure(const Properties* properties)
{
    if (!properties)
        return;
    for (ParameterBase* p : m_parameters)
        p->configure(properties);
}

void Configurable::configuration(Properties* properties) const
{
    if (!properties)
        return;
    for (const ParameterBase* p : m_parameters)
        p->configuration(properties);
}

void Configurable::registerParameter(ParameterBase* parameter)
{
    if (parameter && std::find(m_parameters.begin(), m_parameters.end(), parameter) == m_parameters.end())
        m_parameters.push_back(parameter);
}

void Configurable::unregisterParameter(ParameterBase* parameter)
{
    m_parameters.erase(std::remove(m_parameters.begin(), m_parameters.end(), parameter), m_parameters.end());
}

ParameterBase* Configurable::parameter(const QString& name) const
{
    for (ParameterBase* p : m_parameters)
        if (p->name() == name)
            return p;
    return nullptr;
}

}  // namespace Dravelin
