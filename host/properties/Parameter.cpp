#include "host/properties/Parameter.h"

#include "host/properties/Configurable.h"

namespace Dravelin {

ParameterBase::ParameterBase(QString name, Configurable* owner) : m_name(std::move(name)), m_owner(owner)
{
    if (m_owner)
        m_owner->registerParameter(this);
}

ParameterBase::~ParameterBase()
{
    if (m_owner)
        m_owner->unregisterParameter(this);
}

}  // namespace Dravelin
