#pragma once

#include "host/properties/Properties.h"

#include <vector>

namespace Dravelin {

class ParameterBase;

// An object whose state is a list of registered parameters. configure() reads them from a
// Properties block, configuration() writes them into one, in registration order.
class Configurable
{
public:
    Configurable() = default;
    virtual ~Configurable();
    // Parameters point back at their owner, so copies would register the wrong object.
    Configurable(const Configurable&) = delete;
    Configurable& operator=(const Configurable&) = delete;

    virtual void configure(const Properties* properties);
    virtual void configuration(Properties* properties) const;

    void registerParameter(ParameterBase* parameter);
    void unregisterParameter(ParameterBase* parameter);
    const std::vector<ParameterBase*>& parameters() const { return m_parameters; }
    ParameterBase* parameter(const QString& name) const;

private:
    std::vector<ParameterBase*> m_parameters;
};

}  // namespace Dravelin
