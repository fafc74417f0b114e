#pragma once

#include <QString>

#include <memory>
#include <vector>

class QWidget;

namespace Dravelin {

class Algorithm;
class AlgorithmController;
class AnnotationModel;
class Data;
class DataDisplay;
class DataItemModel;
class DataModel;
class Progress;
class Properties;

// What controllers and plug-ins may ask of the running application. The main window implements
// it; controllers reach it through Controller::applicationController() and plug-ins through
// DravelinLibPlugin::applicationController(). Every getter may return null (a headless host,
// a test).
class ApplicationController
{
public:
    virtual ~ApplicationController();

    virtual DataModel* dataModel() const = 0;
    virtual DataItemModel* dataItemModel() const = 0;
    virtual AnnotationModel* annotationModel() const = 0;
    // The views that show data; null without views.
    virtual DataDisplay* display() const = 0;
    // The parent for dialogs.
    virtual QWidget* mainWidget() const = 0;
    // Where long operations report; null without a progress display.
    virtual Progress* progress() const = 0;

    // Remembers a location for the recent-files menu with the reader's id and configuration.
    virtual void addRecentFile(const QString& path, const QString& algorithmId, const Properties& config) = 0;
    // Names the recent entry of `path` after the items read from it, once they are in the model.
    virtual void nameRecentFile(const QString& path, const QString& algorithmId, const std::vector<Data*>& loaded)
    {
        (void)path, (void)algorithmId, (void)loaded;
    }
    virtual void showAnnotationWidget(bool show) = 0;
    // Runs `algorithm` through its controller; the application owns it from now on.
    virtual void runAlgorithm(std::unique_ptr<Algorithm> algorithm) = 0;
    // A controller finished its algorithm with a result (`success`), after adding its output.
    virtual void algorithmFinished(Algorithm* algorithm, bool success) = 0;
    // Tells the user the outcome of an interaction in one line (the main window's status bar),
    // where it stays until the next message. Called after closeAlgorithm it replaces the
    // application's generic "finished" note. Ignored without a window.
    virtual void showMessage(const QString& text) { (void)text; }
    // The controller's interaction ended (AlgorithmController::closeAlgorithm); the application
    // deletes controller and algorithm once control returns to the event loop.
    virtual void closeAlgorithm(AlgorithmController* controller, bool notifyHost) = 0;
};

}  // namespace Dravelin
