#pragma once

#include "host/app/ControllerDecorator.h"

#include <QPointer>

class QLabel;
class QSizeGrip;
class QVBoxLayout;

namespace Dravelin {

// The standard frame: a title bar with the controller's title and a close button above the
// controller's panel. A fixed-size decorator keeps the panel at its preferred height (forms);
// a resizable one lets the panel take the space it is given and shows a size grip (lists, tag
// tables). The decorator does not own the controller: when it goes first, it hands the panel
// back (without parent) to the controller's owner.
class DefaultControllerDecorator : public ControllerDecorator
{
    Q_OBJECT
public:
    // Embeds controller->widget() when it has one.
    explicit DefaultControllerDecorator(Controller* controller, QWidget* parent = nullptr);
    ~DefaultControllerDecorator() override;

    void setTitle(const QString& title);
    QString title() const;

    void setResizable(bool resizable);
    bool isResizable() const { return m_resizable; }

private:
    QLabel* m_title = nullptr;
    QSizeGrip* m_grip = nullptr;
    QPointer<QWidget> m_content;
    bool m_resizable = false;
};

}  // namespace Dravelin
