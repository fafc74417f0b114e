#include "host/app/SilentSignals.h"

#include <QObject>
#include <QSignalBlocker>

namespace Dravelin::QtHelpers {

void setSilent(QObject* object, const std::function<void()>& change)
{
    const QSignalBlocker blocker(object);
    change();
}

}  // namespace Dravelin::QtHelpers
