#include "host/app/DefaultControllerDecorator.h"

#include "host/app/Controller.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSizeGrip>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace Dravelin {

DefaultControllerDecorator::DefaultControllerDecorator(Controller* controller, QWidget* parent)
    : ControllerDecorator(controller, parent)
{
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    auto* bar = new QHBoxLayout;
    m_title = new QLabel(controller ? controller->title() : QString(), this);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    close->setAutoRaise(true);
    close->setToolTip(tr("Close"));
    connect(close, &QToolButton::clicked, this, &ControllerDecorator::closeRequested);
    bar->addWidget(m_title, 1);
    bar->addWidget(close);
    layout->addLayout(bar);

    m_content = controller ? controller->widget() : nullptr;
    if (m_content)
        layout->addWidget(m_content, 1);
    m_grip = new QSizeGrip(this);
    layout->addWidget(m_grip, 0, Qt::AlignBottom | Qt::AlignRight);
    setResizable(false);
}

DefaultControllerDecorator::~DefaultControllerDecorator()
{
    if (m_content && m_content->parentWidget() == this) {
        m_content->hide();
        m_content->setParent(nullptr);
    }
}

void DefaultControllerDecorator::setTitle(const QString& title)
{
    m_title->setText(title);
}

QString DefaultControllerDecorator::title() const
{
    return m_title->text();
}

void DefaultControllerDecorator::setResizable(bool resizable)
{
    m_resizable = resizable;
    const QSizePolicy::Policy vertical = resizable ? QSizePolicy::Expanding : QSizePolicy::Maximum;
    setSizePolicy(QSizePolicy::Preferred, vertical);
    if (m_content)
        m_content->setSizePolicy(m_content->sizePolicy().horizontalPolicy(), vertical);
    m_grip->setVisible(resizable);
    updateGeometry();
}

}  // namespace Dravelin

#include "moc_DefaultControllerDecorator.cpp"
