#include "rt/RTStructureToLabelMapController.h"

#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/core/Log.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataModel.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/ImageInfoDataComponent.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>

#include <algorithm>

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
    // Not simply the first volume: that may be another patient's, and nothing would show it.
    if (!m_algorithm->referenceVolume())
        m_algorithm->setReferenceVolume(bestMatch());

    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("referenceNote"));
    m_note->setWordWrap(true);
    // The first rows of the parameter form, so that its labels line up with the others.
    formLayout()->insertRow(0, tr("Reference"), m_reference);
    formLayout()->insertRow(1, m_note);
    // The volume the box shows is the one Compute uses, even when the user never opens it.
    showReference();
    if (m_reference->count() == 0) {
        m_reference->setEnabled(false);
        m_reference->setToolTip(tr("Please load a reference volume and restart this algorithm"));
    }
    connect(m_reference, &QComboBox::textActivated, this, &RTStructureToLabelMapController::onReferenceChosen);
}

RTStructureToLabelMapController::Match RTStructureToLabelMapController::match(const SharedImageSet& volume) const
{
    const auto* info = volume.getComponent<ImageInfoDataComponent>();
    bool any = false;
    Match worst = Match::Series;
    for (const PointCloud* cloud : m_algorithm->structures())
        if (const auto* rt = cloud ? cloud->getComponent<Dicom::RTStructureDataComponent>() : nullptr) {
            worst = std::min(worst, rt->matchOf(info));
            any = true;
        }
    return any ? worst : Match::None;
}

SharedImageSet* RTStructureToLabelMapController::bestMatch() const
{
    SharedImageSet* best = nullptr;
    Match bestSoFar = Match::None;
    if (DataModel* model = dataModel())
        for (Data* data : model->getAll(Data::KindVolume)) {
            auto* volume = dynamic_cast<SharedImageSet*>(data);
            const Match m = volume ? match(*volume) : Match::None;
            if (m > bestSoFar) {
                best = volume;
                bestSoFar = m;
            }
        }
    return best;
}

void RTStructureToLabelMapController::showReference()
{
    SharedImageSet* reference = m_algorithm->referenceVolume();
    m_reference->setCurrentIndex(reference ? m_reference->findText(reference->name()) : -1);
    QString note;
    if (m_reference->count() > 0 && !reference)
        note =
            tr("No loaded volume is in the frame of reference of the structure set. Choose the volume to fill "
               "it on: on a volume of another frame of reference the labels lie in the wrong place.");
    else if (reference && match(*reference) == Match::None)
        note = tr("'%1' is not known to be in the frame of reference of the structure set: the labels may lie in "
                  "the wrong place.")
                   .arg(reference->name());
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
}

bool RTStructureToLabelMapController::confirmOtherFrame(const SharedImageSet& volume)
{
    const auto answer = QMessageBox::question(
        this, tr("Reference volume"),
        tr("'%1' is not known to be in the frame of reference of the structure set, so its grid need not be where "
           "the structures were drawn: the labels may lie in the wrong place.\n\nUse '%1' anyway?")
            .arg(volume.name()),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void RTStructureToLabelMapController::onReferenceChosen(const QString& name)
{
    Data* data = dataModel() ? dataModel()->get(name) : nullptr;
    auto* volume = data && data->kind() == Data::KindVolume ? dynamic_cast<SharedImageSet*>(data) : nullptr;
    if (!volume)
        DRAVELIN_LOG(4, "",
                     QStringLiteral("The selected data '%1' does not exist anymore or is not a volume. Please restart "
                                    "this algorithm to get an update list.")
                         .arg(name));
    else if (volume == m_algorithm->referenceVolume() || match(*volume) != Match::None || confirmOtherFrame(*volume))
        m_algorithm->setReferenceVolume(volume);
    showReference();
}

}  // namespace Dravelin

#include "moc_RTStructureToLabelMapController.cpp"
