#include "host/app/DataController.h"

#include "host/app/ApplicationController.h"
#include "host/data/DataDisplay.h"
#include "host/data/DataModel.h"

#include <QObject>

namespace Dravelin {

DataController::DataController() = default;

DataController::~DataController()
{
    disconnectAll();
    delete m_panel.data();
}

QWidget* DataController::widget()
{
    if (!m_panel)
        m_panel = new QWidget;
    return m_panel;
}

void DataController::disconnectAll()
{
    m_context.reset();
    if (m_display)
        m_display->signalVisibleDataChanged.disconnect(m_displayHandle);
    m_display = nullptr;
}

void DataController::setApplicationController(ApplicationController* application)
{
    disconnectAll();
    Controller::setApplicationController(application);
    if (!application)
        return;
    m_context = std::make_unique<QObject>();
    if (DataModel* model = application->dataModel())
        QObject::connect(model, &DataModel::dataRemoved, m_context.get(), [this](const Data* d) { onDataDeleted(d); });
    if ((m_display = application->display())) {
        // Called on the thread that changed the visibility, which is the GUI thread.
        m_displayHandle = m_display->signalVisibleDataChanged.connect(
            [this](const DataList& visible) { onVisibleDataChanged(visible); });
    }
}

void DataController::onVisibleDataChanged(const DataList&) {}

void DataController::onDataDeleted(const Data*) {}

}  // namespace Dravelin
