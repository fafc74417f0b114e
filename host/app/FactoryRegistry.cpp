#include "host/app/FactoryRegistry.h"

#include "host/app/DefaultAlgorithmController.h"
#include "host/app/IoController.h"
#include "host/data/PointCloudAnnotation.h"

#include <algorithm>

namespace Dravelin {

namespace {

template <typename V>
auto factoriesOf(const V& owned)
{
    std::vector<decltype(owned.front().factory.get())> result;
    for (const auto& o : owned)
        result.push_back(o.factory.get());
    return result;
}

template <typename V>
void removeOwned(V& owned, const QString& owner)
{
    // Delete from the back, so that front-placed factories go after the ones behind them.
    for (auto it = owned.end(); it != owned.begin();) {
        --it;
        if (it->owner == owner)
            it = owned.erase(it);
    }
}

}  // namespace

FactoryRegistry::FactoryRegistry() = default;

FactoryRegistry::~FactoryRegistry()
{
    clear();
}

FactoryRegistry& FactoryRegistry::global()
{
    static FactoryRegistry registry;
    return registry;
}

void FactoryRegistry::addAlgorithmFactory(std::unique_ptr<AlgorithmFactory> factory, const QString& owner)
{
    if (!factory)
        return;
    const bool front = factory->addAlgorithmFactoryToFront();
    Owned<AlgorithmFactory> entry{std::move(factory), owner};
    if (front)
        m_algorithms.insert(m_algorithms.begin(), std::move(entry));
    else
        m_algorithms.push_back(std::move(entry));
}

void FactoryRegistry::addControllerFactory(std::unique_ptr<AlgorithmControllerFactory> factory, const QString& owner)
{
    if (factory)
        m_controllers.push_back({std::move(factory), owner});
}

void FactoryRegistry::addAnnotationFactory(std::unique_ptr<AnnotationFactory> factory, const QString& owner)
{
    if (factory)
        m_annotations.push_back({std::move(factory), owner});
}

void FactoryRegistry::removeFactoriesOf(const QString& owner)
{
    removeOwned(m_controllers, owner);
    removeOwned(m_annotations, owner);
    removeOwned(m_algorithms, owner);
}

void FactoryRegistry::clear()
{
    while (!m_controllers.empty())
        m_controllers.pop_back();
    while (!m_annotations.empty())
        m_annotations.pop_back();
    while (!m_algorithms.empty())
        m_algorithms.pop_back();
}

void FactoryRegistry::addHostFactories()
{
    auto annotations = std::make_unique<AnnotationFactory>(QStringLiteral("Host"));
    annotations->registerDataAnnotation<PointCloudAnnotation>(QStringLiteral("Point Cloud"));
    addAnnotationFactory(std::move(annotations));
}

std::vector<AlgorithmFactory*> FactoryRegistry::algorithmFactories() const
{
    return factoriesOf(m_algorithms);
}

std::vector<AlgorithmControllerFactory*> FactoryRegistry::controllerFactories() const
{
    return factoriesOf(m_controllers);
}

std::vector<AnnotationFactory*> FactoryRegistry::annotationFactories() const
{
    return factoriesOf(m_annotations);
}

std::vector<const AlgorithmDescriptor*> FactoryRegistry::algorithmDescriptors() const
{
    std::vector<const AlgorithmDescriptor*> result;
    for (const auto& o : m_algorithms) {
        auto d = o.factory->algorithmDescriptors();
        result.insert(result.end(), d.begin(), d.end());
    }
    return result;
}

std::vector<const AlgorithmDescriptor*> FactoryRegistry::compatibleDescriptors(const DataList& data) const
{
    std::vector<const AlgorithmDescriptor*> result;
    for (const auto& o : m_algorithms) {
        auto d = o.factory->compatibleDescriptors(data);
        result.insert(result.end(), d.begin(), d.end());
    }
    return result;
}

std::vector<const AlgorithmDescriptor*> FactoryRegistry::compatibleIoDescriptors(int ioMode) const
{
    std::vector<const AlgorithmDescriptor*> result;
    for (const auto& o : m_algorithms) {
        auto d = o.factory->compatibleIoDescriptors(ioMode);
        result.insert(result.end(), d.begin(), d.end());
    }
    return result;
}

std::vector<const AlgorithmDescriptor*> FactoryRegistry::compatibleIoDescriptors(const DataList& data, int ioMode) const
{
    std::vector<const AlgorithmDescriptor*> result;
    for (const auto& o : m_algorithms) {
        auto d = o.factory->compatibleIoDescriptors(data, ioMode);
        result.insert(result.end(), d.begin(), d.end());
    }
    return result;
}

const AlgorithmDescriptor* FactoryRegistry::algorithmDescriptor(const QString& id) const
{
    for (const auto& o : m_algorithms)
        for (const AlgorithmDescriptor* d : o.factory->algorithmDescriptors())
            if (d->id == id)
                return d;
    return nullptr;
}

std::unique_ptr<Algorithm> FactoryRegistry::instantiateAlgorithm(const QString& id, const DataList& data) const
{
    const AlgorithmDescriptor* d = algorithmDescriptor(id);
    if (!d) {
        Log::log(3, "FactoryRegistry", "Unknown algorithm: " + id);
        return nullptr;
    }
    return d->create(data);
}

AlgorithmController* FactoryRegistry::createController(Algorithm* algorithm, bool fallback) const
{
    if (!algorithm)
        return nullptr;
    for (const auto& o : m_controllers) {
        try {
            if (AlgorithmController* c = o.factory->create(algorithm))
                return c;
        } catch (const std::exception& e) {
            Log::log(4, "FactoryRegistry",
                     QStringLiteral("Controller factory %1 failed for %2: %3")
                         .arg(o.factory->name(), algorithm->id(), QString::fromUtf8(e.what())));
        } catch (...) {
            Log::log(4, "FactoryRegistry",
                     QStringLiteral("Controller factory %1 failed for %2").arg(o.factory->name(), algorithm->id()));
        }
    }
    if (!fallback)
        return nullptr;
    if (auto* io = dynamic_cast<IoAlgorithm*>(algorithm))
        return new IoController(io);
    return new DefaultAlgorithmController(algorithm);
}

QStringList FactoryRegistry::compatibleDataControllers(const DataList& data) const
{
    QStringList names;
    for (const auto& o : m_controllers)
        names << o.factory->compatibleDataControllers(data);
    return names;
}

DataController* FactoryRegistry::createDataController(const QString& name, const DataList& data) const
{
    for (const auto& o : m_controllers)
        if (DataController* c = o.factory->createDataController(name, data))
            return c;
    return nullptr;
}

QStringList FactoryRegistry::compatibleDataAnnotations(const Data* data) const
{
    QStringList names;
    for (const auto& o : m_annotations)
        names << o.factory->compatibleDataAnnotations(data);
    return names;
}

std::unique_ptr<DataAnnotation> FactoryRegistry::createDataAnnotation(const QString& name, Data* data) const
{
    for (const auto& o : m_annotations)
        if (auto a = o.factory->createDataAnnotation(name, data))
            return a;
    return nullptr;
}

}  // namespace Dravelin
