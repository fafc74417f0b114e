#include "host/plugin/DravelinLibPlugin.h"

#include "host/app/FactoryRegistry.h"

namespace Dravelin {

DravelinLibPlugin::DravelinLibPlugin() = default;

DravelinLibPlugin::~DravelinLibPlugin() = default;

void DravelinLibPlugin::setApplicationController(ApplicationController& application)
{
    m_application = &application;
}

FactoryRegistry& DravelinLibPlugin::factoryRegistry() const
{
    return m_registry ? *m_registry : FactoryRegistry::global();
}

void DravelinLibPlugin::registerFactories(std::unique_ptr<AlgorithmFactory> algorithms,
                                          std::unique_ptr<AlgorithmControllerFactory> controllers,
                                          std::unique_ptr<AnnotationFactory> annotations)
{
    FactoryRegistry& registry = factoryRegistry();
    registry.addAlgorithmFactory(std::move(algorithms), pluginId());
    registry.addControllerFactory(std::move(controllers), pluginId());
    registry.addAnnotationFactory(std::move(annotations), pluginId());
}

}  // namespace Dravelin
