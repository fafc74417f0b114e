#pragma once

#include "host/app/AlgorithmControllerFactory.h"
#include "host/app/AlgorithmFactory.h"
#include "host/app/AnnotationFactory.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace Dravelin {

// Every factory of the application: the host's own and those of the loaded plug-ins, each
// owned here under the id of the plug-in that registered it (empty for the host). Queries ask
// the factories in order; a factory that asks to be placed in front goes ahead of all factories
// registered before it. Used on the GUI thread.
class FactoryRegistry
{
public:
    FactoryRegistry();
    ~FactoryRegistry();
    FactoryRegistry(const FactoryRegistry&) = delete;
    FactoryRegistry& operator=(const FactoryRegistry&) = delete;

    // The application's registry.
    static FactoryRegistry& global();

    // Null input adds nothing.
    void addAlgorithmFactory(std::unique_ptr<AlgorithmFactory> factory, const QString& owner = QString());
    void addControllerFactory(std::unique_ptr<AlgorithmControllerFactory> factory, const QString& owner = QString());
    void addAnnotationFactory(std::unique_ptr<AnnotationFactory> factory, const QString& owner = QString());
    // Deletes the factories registered under `owner`, before that plug-in's code is unloaded.
    void removeFactoriesOf(const QString& owner);
    void clear();
    // The host's own data annotations (a point cloud as markers), under the factory "Host".
    void addHostFactories();

    std::vector<AlgorithmFactory*> algorithmFactories() const;
    std::vector<AlgorithmControllerFactory*> controllerFactories() const;
    std::vector<AnnotationFactory*> annotationFactories() const;

    // Descriptors over all factories, in factory order.
    std::vector<const AlgorithmDescriptor*> algorithmDescriptors() const;
    std::vector<const AlgorithmDescriptor*> compatibleDescriptors(const DataList& data) const;
    std::vector<const AlgorithmDescriptor*> compatibleIoDescriptors(int ioMode) const;
    std::vector<const AlgorithmDescriptor*> compatibleIoDescriptors(const DataList& data, int ioMode) const;
    const AlgorithmDescriptor* algorithmDescriptor(const QString& id) const;
    // The algorithm `id` (a full id) for `data` from the first factory that knows it, or null.
    std::unique_ptr<Algorithm> instantiateAlgorithm(const QString& id, const DataList& data = DataList()) const;

    // The first controller a factory makes for `algorithm` (the caller owns it). Without one,
    // and with `fallback`, an IoController for IO algorithms and a DefaultAlgorithmController
    // for the others. A factory that throws is logged and skipped.
    AlgorithmController* createController(Algorithm* algorithm, bool fallback = true) const;

    QStringList compatibleDataControllers(const DataList& data) const;
    DataController* createDataController(const QString& name, const DataList& data) const;

    QStringList compatibleDataAnnotations(const Data* data) const;
    std::unique_ptr<DataAnnotation> createDataAnnotation(const QString& name, Data* data) const;

private:
    template <typename F>
    struct Owned
    {
        std::unique_ptr<F> factory;
        QString owner;
    };
    std::vector<Owned<AlgorithmFactory>> m_algorithms;
    std::vector<Owned<AlgorithmControllerFactory>> m_controllers;
    std::vector<Owned<AnnotationFactory>> m_annotations;
};

}  // namespace Dravelin
