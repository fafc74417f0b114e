#pragma once

#include "host/app/AlgorithmController.h"

#include <QWidget>

#include <functional>
#include <vector>

class QFormLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace Dravelin {

class ParameterBase;

// The panel the application shows for an algorithm without a controller of its own: one
// editor per parameter (text, int, double, bool; enumerations from the attribute "values",
// labels and limits from "label", "min", "max", "decimals", "tooltip"; parameters with
// "hidden: true" left out), and a Compute button that runs the algorithm and adds its output.
// Subclasses extend the panel in init() through mainLayout() and formLayout().
class DefaultAlgorithmController : public QWidget, public AlgorithmController
{
    Q_OBJECT
public:
    explicit DefaultAlgorithmController(Algorithm* algorithm, QWidget* parent = nullptr);
    ~DefaultAlgorithmController() override;

    void init() override;
    QWidget* widget() override { return this; }

    QVBoxLayout* mainLayout() const { return m_layout; }
    QFormLayout* formLayout() const { return m_form; }

public slots:
    // Runs the algorithm; on success adds its output and tells the application.
    virtual void compute();

private:
    QWidget* createEditor(ParameterBase* parameter);
    void clearEditors();

    QVBoxLayout* m_layout = nullptr;
    QFormLayout* m_form = nullptr;
    QPushButton* m_computeButton = nullptr;
    QLabel* m_status = nullptr;
    // Disconnects the parameter listeners of the editors.
    std::vector<std::function<void()>> m_disconnect;
    bool m_initialized = false;
};

}  // namespace Dravelin
