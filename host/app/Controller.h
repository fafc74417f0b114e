#pragma once

#include "host/properties/Properties.h"

#include <QString>

#include <memory>

class QWidget;

namespace Dravelin {

class AnnotationModel;
class ApplicationController;
class ControllerDecorator;
class DataDisplay;
class DataItemModel;
class DataModel;

// Common base of the user interfaces the host shows for algorithms and data: access to the
// application, the decorator that frames the controller's panel, and the properties the host
// configured the controller with (such as "parentDataset", the name of the data an opened
// file belongs to). Not a QObject, so that subclasses can derive from any Qt class.
class Controller
{
public:
    Controller();
    virtual ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Builds the controller's interface; called once by the host after the application
    // controller and decorator are set.
    virtual void init();
    // The panel the host shows inside the decorator; null for controllers that work through
    // their own dialogs.
    virtual QWidget* widget();
    // The title of the panel.
    virtual QString title() const;

    ApplicationController* applicationController() const { return m_application; }
    virtual void setApplicationController(ApplicationController* application) { m_application = application; }
    // Shortcuts into the application; null without one.
    DataModel* dataModel() const;
    DataItemModel* dataItemModel() const;
    AnnotationModel* annotationModel() const;
    DataDisplay* display() const;
    QWidget* mainWidget() const;

    ControllerDecorator* decorator() const { return m_decorator; }
    void setDecorator(ControllerDecorator* decorator) { m_decorator = decorator; }

    // A copy of `properties` (null clears them).
    virtual void configure(const Properties* properties);
    const Properties* properties() const { return m_properties.get(); }

private:
    ApplicationController* m_application = nullptr;
    ControllerDecorator* m_decorator = nullptr;
    std::unique_ptr<Properties> m_properties;
};

}  // namespace Dravelin
