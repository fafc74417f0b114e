#include "host/app/IoAlgorithm.h"

#include "host/app/GlobalSettings.h"

namespace Dravelin {

IoAlgorithm::IoAlgorithm(int ioMode) : m_ioMode(ioMode) {}

IoAlgorithm::~IoAlgorithm() = default;

QStringList IoAlgorithm::extensions() const
{
    return {};
}

Properties IoAlgorithm::userOptions(bool onlyUserVisible, bool includeLocation) const
{
    Properties all;
    configuration(&all);
    Properties result(QStringLiteral("Options"));
    for (const Properties::Param& p : all.params()) {
        if (p.name == m_location.name() && !includeLocation)
            continue;
        if (onlyUserVisible && p.attributes.value(QStringLiteral("hidden")) == QLatin1String("true"))
            continue;
        result.addParam(p.name, p.value);
        for (auto it = p.attributes.begin(); it != p.attributes.end(); ++it)
            result.setParamAttribute(p.name, it.key(), it.value());
    }
    for (const Properties* sub : all.allSubProperties())
        *result.addSubProperties(sub->name()) = *sub;
    return result;
}

QString IoAlgorithm::settingsPrefix() const
{
    const QString key = id().isEmpty() ? QString::fromLatin1(typeid(*this).name()) : id();
    return QStringLiteral("IoAlgorithm/%1/").arg(key);
}

void IoAlgorithm::configureFromGlobalSettings()
{
    Properties stored;
    for (const ParameterBase* p : parameters()) {
        if (p == &m_location || p->typeName() == QLatin1String("block"))
            continue;
        const QString key = settingsPrefix() + p->name();
        if (GlobalSettings::contains(key))
            stored.setParam(p->name(), GlobalSettings::loadValue(key));
    }
    if (!stored.isEmpty())
        configure(&stored);
}

void IoAlgorithm::saveToGlobalSettings() const
{
    Properties current;
    configuration(&current);
    for (const Properties::Param& p : current.params())
        if (p.name != m_location.name())
            GlobalSettings::storeValue(settingsPrefix() + p.name, p.value);
}

}  // namespace Dravelin
