#pragma once

#include "host/properties/Parameter.h"

#include <utility>

namespace Dravelin {

// A Configurable object used as one parameter of another: its parameters live in a nested
// block named after the parameter. T must derive from Configurable.
template <typename T>
class SubProperty : public ParameterBase
{
public:
    template <typename... Args>
    SubProperty(const QString& name, Configurable* owner, Args&&... args)
        : ParameterBase(name, owner), m_value(std::forward<Args>(args)...)
    {
    }

    T& value() { return m_value; }
    const T& value() const { return m_value; }
    T* operator->() { return &m_value; }
    const T* operator->() const { return &m_value; }

    QString typeName() const override { return QStringLiteral("block"); }

    // Nothing happens when the block has no nested block of this name.
    void configure(const Properties* properties) override
    {
        if (!properties)
            return;
        if (const Properties* block = properties->subProperties(m_name))
            m_value.configure(block);
    }

    void configuration(Properties* properties) const override
    {
        if (!properties)
            return;
        Properties* block = properties->subProperties(m_name);
        if (block)
            block->clear();
        else
            block = properties->addSubProperties(m_name);
        m_value.configuration(block);
    }

private:
    T m_value;
};

}  // namespace Dravelin
