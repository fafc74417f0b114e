#pragma once

#include <QPointer>
#include <QTreeWidget>

namespace Dravelin {

class AnnotationModel;
class InteractiveObject;

// The annotations of the application: name, type and the data they belong to, with a check
// box that shows or hides each; Del removes the selected ones.
class AnnotationWidget : public QTreeWidget
{
    Q_OBJECT
public:
    explicit AnnotationWidget(AnnotationModel* model, QWidget* parent = nullptr);
    ~AnnotationWidget() override;

    // Refills the list from the model (runs by itself on the model's changes).
    void rebuild();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onItemChanged(QTreeWidgetItem* item, int column);

    QPointer<AnnotationModel> m_model;
    bool m_rebuilding = false;
};

}  // namespace Dravelin
