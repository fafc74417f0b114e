#pragma once

#include "host/app/Controller.h"
#include "host/properties/Signal.h"
#include "host/data/OwningDataList.h"

#include <vector>

namespace Dravelin {

class Algorithm;
class Data;
class DataAnnotation;

// The user interface of one algorithm: asks for what the algorithm needs, runs it and hands
// its output to the application. Every interaction ends with exactly one closeAlgorithm().
// The application owns both controller and algorithm and deletes them after the close.
class AlgorithmController : public Controller
{
public:
    // Where the application may show the controller.
    enum Location : int {
        OwnWindow = 0,       // the controller shows its own window or dialogs
        ControllerDock = 1,  // its panel goes into the application's controller dock
    };

    explicit AlgorithmController(Algorithm* algorithm);
    ~AlgorithmController() override;

    Algorithm* algorithm() const { return m_algorithm; }
    QString title() const override;

    virtual std::vector<int> supportedLocations() const;
    virtual int preferredLocation() const;

    // Ends the interaction. `notifyHost` asks the application to treat the algorithm as
    // finished (its status tells how) and to take any output still in it; false closes
    // quietly. Only the first call has an effect.
    void closeAlgorithm(bool notifyHost);
    bool isClosed() const { return m_closed; }
    // Notified once, with the flag of the first closeAlgorithm().
    Signal<bool> signalClosed;

    // Adds `output` to the application's data model, attached to the data named by the
    // property "parentDataset" when configured, and gives every item without an annotation the
    // data annotation the factories offer last for it. Returns the added items; without a data
    // model the output is dropped (and logged).
    std::vector<Data*> addToDataAndAnnotationModels(OwningDataList output);
    // The annotation part of the above, for items already in the data model: returns the
    // annotations it added.
    std::vector<DataAnnotation*> addDataAnnotations(const std::vector<Data*>& added);

private:
    Algorithm* m_algorithm;
    bool m_closed = false;
};

}  // namespace Dravelin
