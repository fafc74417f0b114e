#pragma once

#include <QFrame>

namespace Dravelin {

class Controller;

// The frame around a controller's panel in the application's controller dock. The application
// creates one per shown controller; controllers reach it through Controller::decorator().
class ControllerDecorator : public QFrame
{
    Q_OBJECT
public:
    explicit ControllerDecorator(Controller* controller, QWidget* parent = nullptr);
    ~ControllerDecorator() override;

    Controller* controller() const { return m_controller; }

signals:
    // The user asked to close the panel.
    void closeRequested();

private:
    Controller* m_controller;
};

}  // namespace Dravelin
