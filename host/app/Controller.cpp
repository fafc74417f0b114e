#include "host/app/Controller.h"

#include "host/app/ApplicationController.h"

namespace Dravelin {

Controller::Controller() = default;

Controller::~Controller() = default;

void Controller::init() {}

QWidget* Controller::widget()
{
    return nullptr;
}

QString Controller::title() const
{
    return QString();
}

DataModel* Controller::dataModel() const
{
    return m_application ? m_application->dataModel() : nullptr;
}

DataItemModel* Controller::dataItemModel() const
{
    return m_application ? m_application->dataItemModel() : nullptr;
}

AnnotationModel* Controller::annotationModel() const
{
    return m_application ? m_application->annotationModel() : nullptr;
}

DataDisplay* Controller::display() const
{
    return m_application ? m_application->display() : nullptr;
}

QWidget* Controller::mainWidget() const
{
    return m_application ? m_application->mainWidget() : nullptr;
}

void Controller::configure(const Properties* properties)
{
    m_properties = properties ? std::make_unique<Properties>(*properties) : nullptr;
}

}  // namespace Dravelin
