#pragma once

#include "host/app/Controller.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QObject;

namespace Dravelin {

class Data;
class DataList;

// The user interface the application offers for a kind of data (RT structure sets, overlays)
// while such data is loaded. Subclasses provide a static
//   bool createCompatible(const DataList& data, DataController** out)
// for AlgorithmControllerFactory::registerDataController, and react to the views through the
// two notifications below, which the base connects when the application controller is set.
class DataController : public Controller
{
public:
    DataController();
    ~DataController() override;

    // A plain panel, created on first use, that subclasses lay out in init().
    QWidget* widget() override;
    void setApplicationController(ApplicationController* application) override;

    // The display's visible data changed.
    virtual void onVisibleDataChanged(const DataList& visible);
    // `data` left the data model; use the pointer only to compare.
    virtual void onDataDeleted(const Data* data);

private:
    void disconnectAll();

    QPointer<QWidget> m_panel;
    // Context of the Qt connections to the application, gone with the controller.
    std::unique_ptr<QObject> m_context;
    DataDisplay* m_display = nullptr;
    int m_displayHandle = 0;
};

}  // namespace Dravelin
