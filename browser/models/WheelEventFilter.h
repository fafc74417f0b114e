#pragma once

#include <QObject>

#include <functional>

class QWheelEvent;

namespace Dravelin {

// Hands the wheel events of the watched object to a function; its result decides whether the
// event is consumed. Every other event passes through.
class WheelEventFilter : public QObject
{
    Q_OBJECT

public:
    explicit WheelEventFilter(std::function<bool(const QWheelEvent&)> onWheel, QObject* parent = nullptr);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool(const QWheelEvent&)> m_onWheel;
};

}  // namespace Dravelin
