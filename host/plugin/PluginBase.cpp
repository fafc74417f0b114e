#include "host/plugin/PluginBase.h"

namespace Dravelin {

PluginBase::PluginBase() = default;

PluginBase::~PluginBase() = default;

QString PluginBase::author() const
{
    return QString();
}

QString PluginBase::description() const
{
    return QString();
}

QStringList PluginBase::dependencies() const
{
    return {};
}

}  // namespace Dravelin
