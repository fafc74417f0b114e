#pragma once

#include "host/app/Algorithm.h"
#include "host/app/AlgorithmController.h"
#include "host/app/ApplicationController.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataDisplay.h"
#include "host/data/DataItemModel.h"
#include "host/data/DataModel.h"

#include <QWidget>

#include <vector>

namespace Dravelin::Test {

// A display that shows what it is told to and says so.
struct TestDisplay : DataDisplay
{
    DataList visible;
    DataList visibleData() const override { return visible; }
    void setVisibleData(const DataList& data) override
    {
        visible = data;
        signalVisibleDataChanged.notify(visible);
    }
    void refresh() override {}
};

// The application as controllers see it: data, item and annotation models, a display, a main
// widget, and a record of what reached the application.
class TestApplication : public ApplicationController
{
public:
    DataModel* dataModel() const override { return &m_data; }
    DataItemModel* dataItemModel() const override { return &m_items; }
    AnnotationModel* annotationModel() const override { return &m_annotations; }
    DataDisplay* display() const override { return &m_display; }
    QWidget* mainWidget() const override { return m_withWindow ? &m_window : nullptr; }
    Progress* progress() const override { return nullptr; }
    void addRecentFile(const QString& path, const QString&, const Properties&) override { recentFiles << path; }
    void showAnnotationWidget(bool) override {}
    void runAlgorithm(std::unique_ptr<Algorithm> algorithm) override { started.push_back(std::move(algorithm)); }
    void algorithmFinished(Algorithm*, bool) override { ++finished; }
    void closeAlgorithm(AlgorithmController*, bool notifyHost) override { closes.push_back(notifyHost); }
    void showMessage(const QString& text) override { messages << text; }

    bool m_withWindow = true;
    mutable DataModel m_data;
    mutable DataItemModel m_items{&m_data};
    mutable AnnotationModel m_annotations{&m_data};
    mutable TestDisplay m_display;
    mutable QWidget m_window;
    QStringList recentFiles;
    std::vector<std::unique_ptr<Algorithm>> started;
    int finished = 0;
    QStringList messages;      // what the user was told, in order
    std::vector<bool> closes;  // one entry per closeAlgorithm that reached the application
};

}  // namespace Dravelin::Test
