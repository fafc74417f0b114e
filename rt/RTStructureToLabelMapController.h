#pragma once

#include "host/app/DefaultAlgorithmController.h"
#include "host/dicom/components/RTStructureDataComponent.h"

class QComboBox;
class QLabel;

namespace Dravelin {

class RTStructureToLabelMap;
class SharedImageSet;

// The parameter panel of RTStructureToLabelMap with the choice of the reference volume: every
// volume of the data model by name, preset to the volume the first structure set was drawn on,
// else to the loaded volume that fits the structures best (the series they were drawn on, then
// their frame of reference). A label map on a volume of another frame of reference lies in the
// wrong place, so the panel says when no volume fits and asks before taking one that does not.
class RTStructureToLabelMapController : public DefaultAlgorithmController
{
    Q_OBJECT
public:
    explicit RTStructureToLabelMapController(RTStructureToLabelMap* algorithm, QWidget* parent = nullptr);
    ~RTStructureToLabelMapController() override;

    void init() override;
    QComboBox* referenceBox() const { return m_reference; }
    // Why the reference may not fit; hidden when it does.
    QLabel* referenceNote() const { return m_note; }

private:
    using Match = Dicom::RTStructureDataComponent::ReferenceMatch;

    void onReferenceChosen(const QString& name);
    // How `volume` fits every structure: the worst of their matches.
    Match match(const SharedImageSet& volume) const;
    // The first loaded volume that fits best; null when none fits.
    SharedImageSet* bestMatch() const;
    bool confirmOtherFrame(const SharedImageSet& volume);
    // Shows the algorithm's reference in the box and the note that goes with it.
    void showReference();

    RTStructureToLabelMap* m_algorithm;
    QComboBox* m_reference = nullptr;
    QLabel* m_note = nullptr;
};

}  // namespace Dravelin
