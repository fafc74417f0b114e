#include "host/app/AlgorithmController.h"

#include "host/app/Algorithm.h"
#include "host/app/ApplicationController.h"
#include "host/app/FactoryRegistry.h"
#include "host/core/Log.h"
#include "host/data/AnnotationModel.h"
#include "host/data/Data.h"
#include "host/data/DataModel.h"

namespace Dravelin {

AlgorithmController::AlgorithmController(Algorithm* algorithm) : m_algorithm(algorithm) {}

AlgorithmController::~AlgorithmController() = default;

QString AlgorithmController::title() const
{
    return m_algorithm ? m_algorithm->name() : QString();
}

std::vector<int> AlgorithmController::supportedLocations() const
{
    return {ControllerDock, OwnWindow};
}

int AlgorithmController::preferredLocation() const
{
    return ControllerDock;
}

void AlgorithmController::closeAlgorithm(bool notifyHost)
{
    if (m_closed) {
        DRAVELIN_LOG(1, "AlgorithmController", "closeAlgorithm called again for " + title() + "; ignored");
        return;
    }
    m_closed = true;
    signalClosed.notify(notifyHost);
    if (ApplicationController* app = applicationController())
        app->closeAlgorithm(this, notifyHost);
}

std::vector<Data*> AlgorithmController::addToDataAndAnnotationModels(OwningDataList output)
{
    DataModel* model = dataModel();
    if (!model) {
        if (!output.empty())
            DRAVELIN_LOG(
                2, "AlgorithmController",
                QStringLiteral("No data model: %1 output item(s) of %2 dropped").arg(output.size()).arg(title()));
        return {};
    }
    std::vector<Data*> added = model->add(std::move(output));
    addDataAnnotations(added);
    return added;
}

std::vector<DataAnnotation*> AlgorithmController::addDataAnnotations(const std::vector<Data*>& added)
{
    std::vector<DataAnnotation*> result;
    DataModel* model = dataModel();
    AnnotationModel* annotations = annotationModel();
    if (!model || !annotations)
        return result;
    Data* parent = nullptr;
    if (const Properties* p = properties()) {
        const QString parentName = p->param(QStringLiteral("parentDataset")).toString();
        if (!parentName.isEmpty())
            parent = model->get(parentName);
    }
    const FactoryRegistry& registry = FactoryRegistry::global();
    for (Data* data : added) {
        if (annotations->getDataAnnotation(data))
            continue;
        const QStringList names = registry.compatibleDataAnnotations(data);
        if (names.isEmpty())
            continue;
        // Later factories (plug-ins) refine the host's generic annotations.
        std::unique_ptr<DataAnnotation> annotation = registry.createDataAnnotation(names.last(), data);
        if (!annotation)
            continue;
        if (const Properties* p = properties())
            annotation->configure(p);
        result.push_back(annotation.get());
        annotations->add(std::move(annotation), parent, -1);
    }
    return result;
}

}  // namespace Dravelin
