#include "host/ui/LabeledSlider.h"

#include <QBoxLayout>
#include <QLabel>
#include <QSlider>

namespace Dravelin {

LabeledSlider::LabeledSlider(Qt::Orientation orientation, int labelVisibility, QWidget* parent)
    : QWidget(parent), m_visibility(labelVisibility)
{
    m_slider = new QSlider(orientation, this);
    m_slider->setObjectName("slider");
    m_front = new QLabel(this);
    m_front->setObjectName("frontLabel");
    m_back = new QLabel(this);
    m_back->setObjectName("backLabel");
    auto* layout =
        new QBoxLayout(orientation == Qt::Horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom, this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_front);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_back);
    // The inner slider is never blocked, so the texts follow; the outer signal obeys blocking.
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        updateLabels();
        Q_EMIT sliderValueChanged(value);
    });
    connect(m_slider, &QSlider::rangeChanged, this, [this] { updateLabels(); });
    updateLabels();
}

LabeledSlider::~LabeledSlider() = default;

int LabeledSlider::value() const
{
    return m_slider->value();
}

int LabeledSlider::minimum() const
{
    return m_slider->minimum();
}

int LabeledSlider::maximum() const
{
    return m_slider->maximum();
}

void LabeledSlider::setValue(int value)
{
    m_slider->setValue(value);
}

void LabeledSlider::setRange(int minimum, int maximum)
{
    m_slider->setRange(minimum, maximum);
}

void LabeledSlider::setMinimum(int minimum)
{
    m_slider->setMinimum(minimum);
}

void LabeledSlider::setMaximum(int maximum)
{
    m_slider->setMaximum(maximum);
}

void LabeledSlider::setSingleStep(int step)
{
    m_slider->setSingleStep(step);
}

void LabeledSlider::setLabelVisibility(int labelVisibility)
{
    m_visibility = labelVisibility;
    updateLabels();
}

void LabeledSlider::setFrontLabelFormat(const QString& format)
{
    m_frontFormat = format;
    updateLabels();
}

void LabeledSlider::setBackLabelFormat(const QString& format)
{
    m_backFormat = format;
    updateLabels();
}

QString LabeledSlider::frontLabelText() const
{
    return m_front->text();
}

QString LabeledSlider::backLabelText() const
{
    return m_back->text();
}

QString LabeledSlider::formatted(const QString& format) const
{
    QString text = format;
    text.replace(QLatin1String("{current}"), QString::number(m_slider->value()));
    text.replace(QLatin1String("{minimum}"), QString::number(m_slider->minimum()));
    text.replace(QLatin1String("{maximum}"), QString::number(m_slider->maximum()));
    return text;
}

void LabeledSlider::updateLabels()
{
    m_front->setText(formatted(m_frontFormat));
    m_back->setText(formatted(m_backFormat));
    m_front->setVisible((m_visibility & FrontLabel) && !m_frontFormat.isEmpty());
    m_back->setVisible((m_visibility & BackLabel) && !m_backFormat.isEmpty());
}

}  // namespace Dravelin

#include "moc_LabeledSlider.cpp"
