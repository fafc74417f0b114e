#pragma once

#include "host/app/DefaultAlgorithmController.h"

class QComboBox;

namespace Dravelin {

class RTStructureToLabelMap;

// The parameter panel of RTStructureToLabelMap with the choice of the reference volume: every
// volume of the data model by name, preset to the volume the first structure set was drawn on.
class RTStructureToLabelMapController : public DefaultAlgorithmController
{
    Q_OBJECT
public:
    explicit RTStructureToLabelMapController(RTStructureToLabelMap* algorithm, QWidget* parent = nullptr);
    ~RTStructureToLabelMapController() override;

    void init() override;
    QComboBox* referenceBox() const { return m_reference; }

private:
    void onReferenceChosen(const QString& name);

    RTStructureToLabelMap* m_algorithm;
    QComboBox* m_reference = nullptr;
};

}  // namespace Dravelin
