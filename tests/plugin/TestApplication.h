#pragma once

#include "host/app/AlgorithmController.h"
#include "host/app/ApplicationController.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataModel.h"

#include <QWidget>

#include <vector>

namespace Dravelin::Test {

// The application as controllers see it: a data and an annotation model, a main widget, and a
// record of how each interaction was closed.
class TestApplication : public ApplicationController
{
public:
    DataModel* dataModel() const override { return &m_data; }
    DataItemModel* dataItemModel() const override { return nullptr; }
    AnnotationModel* annotationModel() const override { return &m_annotations; }
    DataDisplay* display() const override { return nullptr; }
    QWidget* mainWidget() const override { return m_withWindow ? &m_window : nullptr; }
    Progress* progress() const override { return nullptr; }
    void addRecentFile(const QString& path, const QString&, const Properties&) override { recentFiles << path; }
    void showAnnotationWidget(bool) override {}
    void runAlgorithm(std::unique_ptr<Algorithm> algorithm) override { started.push_back(std::move(algorithm)); }
    void algorithmFinished(Algorithm*, bool) override {}
    void closeAlgorithm(AlgorithmController*, bool notifyHost) override { closes.push_back(notifyHost); }

    bool m_withWindow = true;
    mutable DataModel m_data;
    mutable AnnotationModel m_annotations{&m_data};
    mutable QWidget m_window;
    QStringList recentFiles;
    std::vector<std::unique_ptr<Algorithm>> started;
    std::vector<bool> closes;  // one entry per closeAlgorithm that reached the application
};

}  // namespace Dravelin::Test
