#include "host/app/AlgorithmControllerFactory.h"

#include "host/app/FactoryRegistry.h"

namespace Dravelin {

AlgorithmControllerFactory::AlgorithmControllerFactory(QString name) : m_name(std::move(name)) {}

AlgorithmControllerFactory::~AlgorithmControllerFactory() = default;

AlgorithmController* AlgorithmControllerFactory::create(Algorithm*) const
{
    return nullptr;
}

bool AlgorithmControllerFactory::listsDataController(const QString& name) const
{
    const QString key = AlgorithmUtils::parseAlgorithmName(name).toLower();
    for (const Entry& e : m_dataControllers)
        if (AlgorithmUtils::parseAlgorithmName(e.name).toLower() == key)
            return true;
    return false;
}

bool AlgorithmControllerFactory::addDataController(const QString& name, DataControllerCreator creator)
{
    if (listsDataController(name))
        return false;
    for (const AlgorithmControllerFactory* f : FactoryRegistry::global().controllerFactories())
        if (f != this && f->listsDataController(name))
            return false;
    m_dataControllers.push_back({name, std::move(creator)});
    return true;
}

QStringList AlgorithmControllerFactory::compatibleDataControllers(const DataList& data) const
{
    QStringList names;
    for (const Entry& e : m_dataControllers)
        if (QString n = e.creator(data, QString(), nullptr); !n.isEmpty())
            names << n;
    return names;
}

DataController* AlgorithmControllerFactory::createDataController(const QString& name, const DataList& data) const
{
    for (const Entry& e : m_dataControllers) {
        DataController* out = nullptr;
        const QString accepted = e.creator(data, name, &out);
        if (out && !accepted.isEmpty())
            return out;
        delete out;
    }
    return nullptr;
}

QStringList AlgorithmControllerFactory::dataControllerNames() const
{
    QStringList names;
    for (const Entry& e : m_dataControllers)
        names << e.name;
    return names;
}

}  // namespace Dravelin
