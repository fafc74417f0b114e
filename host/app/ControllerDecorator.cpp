#include "host/app/ControllerDecorator.h"

#include "host/app/Controller.h"

namespace Dravelin {

ControllerDecorator::ControllerDecorator(Controller* controller, QWidget* parent)
    : QFrame(parent), m_controller(controller)
{
    if (controller)
        controller->setDecorator(this);
}

ControllerDecorator::~ControllerDecorator()
{
    if (m_controller && m_controller->decorator() == this)
        m_controller->setDecorator(nullptr);
}

}  // namespace Dravelin

#include "moc_ControllerDecorator.cpp"
