#include "rt/RTStructureToLabelMapController.h"

#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/core/Log.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataModel.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"

#include <QComboBox>
#include <QFormLayout>

namespace Dravelin {

RTStructureToLabelMapController::RTStructureToLabelMapController(RTStructureToLabelMap* algorithm, QWidget* parent)
    : DefaultAlgorithmController(algorithm, parent), m_algorithm(algorithm)
{
}

RTStructureToLabelMapController::~RTStructureToLabelMapController() = default;

void RTStructureToLabelMapController::init()
{
    DefaultAlgorithmController::init();
    if (m_reference)
        return;
    m_reference = new QComboBox(this);
    m_reference->setObjectName(QStringLiteral("referenceBox"));
    if (DataModel* model = dataModel())
        for (Data* data : model->getAll(Data::KindVolume))
            m_reference->addItem(data->name());

    if (!m_algorithm->referenceVolume() && !m_algorithm->structures().empty() && annotationModel()) {
        // A structure set drawn on a loaded image set converts onto that image set's grid.
        const InteractiveObject* annotation = annotationModel()->getDataAnnotation(m_algorithm->structures().front());
        auto* parent =
            annotation ? dynamic_cast<SharedImageSet*>(annotationModel()->getParentDataset(annotation)) : nullptr;
        if (parent) {
            m_algorithm->setReferenceVolume(parent);
            DRAVELIN_LOG(1, "", QStringLiteral("Using parent dataset as reference"));
        }
    }
    if (SharedImageSet* reference = m_algorithm->referenceVolume())
        m_reference->setCurrentIndex(m_reference->findText(reference->name()));
    else if (m_reference->count() > 0)
        // The volume the box shows is the one Compute uses, even when the user never opens it.
        onReferenceChosen(m_reference->currentText());
    // The first row of the parameter form, so that its labels line up with the others.
    formLayout()->insertRow(0, tr("Reference"), m_reference);
    if (m_reference->count() == 0) {
        m_reference->setEnabled(false);
        m_reference->setToolTip(tr("Please load a reference volume and restart this algorithm"));
    }
    connect(m_reference, &QComboBox::textActivated, this, &RTStructureToLabelMapController::onReferenceChosen);
}

void RTStructureToLabelMapController::onReferenceChosen(const QString& name)
{
    Data* data = dataModel() ? dataModel()->get(name) : nullptr;
    if (data && data->kind() == Data::KindVolume) {
        if (auto* volume = dynamic_cast<SharedImageSet*>(data)) {
            m_algorithm->setReferenceVolume(volume);
            return;
        }
    }
    DRAVELIN_LOG(4, "",
                 QStringLiteral("The selected data '%1' does not exist anymore or is not a volume. Please restart "
                                "this algorithm to get an update list.")
                     .arg(name));
}

}  // namespace Dravelin

#include "moc_RTStructureToLabelMapController.cpp"
