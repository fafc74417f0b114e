#pragma once

#include "host/plugin/PluginBase.h"

#include <memory>

namespace Dravelin {

class AlgorithmControllerFactory;
class AlgorithmFactory;
class AnnotationFactory;
class ApplicationController;
class FactoryRegistry;

// A plug-in that contributes algorithms, controllers and annotations through factories.
class DravelinLibPlugin : public PluginBase
{
public:
    DravelinLibPlugin();
    ~DravelinLibPlugin() override;

    // The running application; the host sets it before init() when it has one.
    virtual void setApplicationController(ApplicationController& application);
    ApplicationController* applicationController() const { return m_application; }

    // Where registerFactories puts the factories: the global registry unless the loader says
    // otherwise.
    void setFactoryRegistry(FactoryRegistry* registry) { m_registry = registry; }
    FactoryRegistry& factoryRegistry() const;

    // Hands the factories (any may be null) to the registry, which owns them under this
    // plug-in's id and deletes them before the plug-in is unloaded.
    void registerFactories(std::unique_ptr<AlgorithmFactory> algorithms,
                           std::unique_ptr<AlgorithmControllerFactory> controllers,
                           std::unique_ptr<AnnotationFactory> annotations);

private:
    ApplicationController* m_application = nullptr;
    FactoryRegistry* m_registry = nullptr;
};

}  // namespace Dravelin
