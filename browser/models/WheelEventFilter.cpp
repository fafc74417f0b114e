#include "browser/models/WheelEventFilter.h"

#include <QWheelEvent>

namespace Dravelin {

WheelEventFilter::WheelEventFilter(std::function<bool(const QWheelEvent&)> onWheel, QObject* parent)
    : QObject(parent), m_onWheel(std::move(onWheel))
{
}

bool WheelEventFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel && m_onWheel)
        return m_onWheel(static_cast<const QWheelEvent&>(*event));
    return QObject::eventFilter(watched, event);
}

}  // namespace Dravelin

#include "moc_WheelEventFilter.cpp"
