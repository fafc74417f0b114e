#include "host/app/MainThread.h"

#include "host/core/Log.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace Dravelin::QtHelpers {

void runOnMainThread(std::function<void()> function, bool blocking)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        Log::log(3, "", "runOnMainThread called without a QCoreApplication; call dropped");
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        function();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(function), blocking ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

}  // namespace Dravelin::QtHelpers
