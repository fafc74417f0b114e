#pragma once
// TEMPORARY PLACEHOLDER, removed when the host's settings pieces are merged: stands in for
// LabeledSlider and QtHelpers::generateMultiSizeIcon so the dialog builds.
#include <QIcon>
#include <QSlider>
#include <string>
#include <vector>

namespace Dravelin {

class LabeledSlider : public QSlider
{
    Q_OBJECT
public:
    LabeledSlider(Qt::Orientation o, int, QWidget* parent) : QSlider(o, parent)
    {
        connect(this, &QSlider::valueChanged, this, &LabeledSlider::sliderValueChanged);
    }
    void setFrontLabelFormat(const QString&) {}
Q_SIGNALS:
    void sliderValueChanged(int value);
};

namespace QtHelpers {
inline QIcon generateMultiSizeIcon(const char*)
{
    return QIcon();
}
}  // namespace QtHelpers

}  // namespace Dravelin
