#include "host/properties/BlockParameter.h"

namespace Dravelin {

BlockParameter::BlockParameter(const QString& name, Configurable* owner) : ParameterBase(name, owner), m_value(name) {}

void BlockParameter::setValue(const Properties& value)
{
    Properties renamed(value);
    renamed.setName(m_name);
    if (renamed == m_value)
        return;
    m_value = renamed;
    signalValueChanged.notify();
}

void BlockParameter::configure(const Properties* properties)
{
    if (!properties)
        return;
    if (const Properties* block = properties->subProperties(m_name))
        setValue(*block);
}

void BlockParameter::configuration(Properties* properties) const
{
    if (!properties)
        return;
    Properties* block = properties->subProperties(m_name);
    if (!block)
        block = properties->addSubProperties(m_name);
    *block = m_value;
}

}  // namespace Dravelin
