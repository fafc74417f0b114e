#include "rt/OverlayAnnotationDataController.h"

#include "host/data/AnnotationModel.h"
#include "host/data/DataItemModel.h"
#include "host/data/DataList.h"
#include "host/data/InteractiveObject.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/annotations/OverlayAnnotation.h"
#include "host/dicom/components/OverlayDataComponent.h"

namespace Dravelin::Dicom {

namespace {

SharedImageSet* overlayCarrier(Data* data)
{
    // Volumes too: each slice's overlay lands on that slice.
    if (!data ||
        (data->kind() != Data::KindImage && data->kind() != Data::KindVolume &&
         data->kind() != Data::KindImageSeries) ||
        !data->hasComponent<OverlayDataComponent>())
        return nullptr;
    return dynamic_cast<SharedImageSet*>(data);
}

}  // namespace

OverlayAnnotationDataController::OverlayAnnotationDataController(SharedImageSet* pending) : m_pending(pending) {}

OverlayAnnotationDataController::~OverlayAnnotationDataController() = default;

bool OverlayAnnotationDataController::createCompatible(const DataList& data, DataController** out)
{
    SharedImageSet* imageSet = data.size() == 1 ? overlayCarrier(data[0]) : nullptr;
    if (!imageSet)
        return false;
    if (out)
        *out = new OverlayAnnotationDataController(imageSet);
    return true;
}

void OverlayAnnotationDataController::init()
{
    if (DataItemModel* items = dataItemModel())
        connect(items, &DataItemModel::dataAdded, this, &OverlayAnnotationDataController::onDataAdded);
    if (m_pending)
        addAnnotation(m_pending);
    m_pending = nullptr;
}

void OverlayAnnotationDataController::onDataAdded(Data* data)
{
    if (SharedImageSet* imageSet = overlayCarrier(data))
        addAnnotation(imageSet);
}

void OverlayAnnotationDataController::addAnnotation(SharedImageSet* imageSet)
{
    AnnotationModel* annotations = annotationModel();
    if (!annotations)
        return;
    auto annotation = std::make_unique<OverlayAnnotation>(imageSet);
    annotation->name = QStringLiteral("DICOM Overlay");
    annotations->add(std::make_unique<InteractiveObject>(std::move(annotation)), imageSet, -1);
}

}  // namespace Dravelin::Dicom

#include "moc_OverlayAnnotationDataController.cpp"
