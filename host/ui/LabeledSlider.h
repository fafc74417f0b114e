#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QSlider;

namespace Dravelin {

// A slider with a text before it and one after it. The texts are formats in which
// {current}, {minimum} and {maximum} stand for the slider's numbers ("Frame: {current} /
// {maximum}"); by default the front text is empty and the back text shows the value.
// The texts follow the value even while this widget's signals are blocked.
class LabeledSlider : public QWidget
{
    Q_OBJECT
public:
    // Which texts are shown (bits).
    enum LabelVisibility : int { NoLabels = 0, FrontLabel = 1, BackLabel = 2, BothLabels = 3 };

    explicit LabeledSlider(Qt::Orientation orientation = Qt::Horizontal, int labelVisibility = FrontLabel,
                           QWidget* parent = nullptr);
    ~LabeledSlider() override;

    int value() const;
    int minimum() const;
    int maximum() const;
    void setRange(int minimum, int maximum);
    void setMinimum(int minimum);
    void setMaximum(int maximum);
    void setSingleStep(int step);

    void setLabelVisibility(int labelVisibility);
    int labelVisibility() const { return m_visibility; }
    void setFrontLabelFormat(const QString& format);
    void setBackLabelFormat(const QString& format);
    QString frontLabelText() const;
    QString backLabelText() const;

    QSlider* slider() const { return m_slider; }

public Q_SLOTS:
    void setValue(int value);

Q_SIGNALS:
    void sliderValueChanged(int value);

private:
    void updateLabels();
    QString formatted(const QString& format) const;

    QSlider* m_slider = nullptr;
    QLabel* m_front = nullptr;
    QLabel* m_back = nullptr;
    QString m_frontFormat;
    QString m_backFormat = QStringLiteral("{current}");
    int m_visibility = FrontLabel;
};

}  // namespace Dravelin
