#include "host/app/MainThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using Dravelin::QtHelpers::runOnMainThread;

TEST(RunOnMainThread, RunsAtOnceOnTheMainThread)
{
    bool ran = false;
    runOnMainThread([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(RunOnMainThread, WorkersReachTheMainThread)
{
    QThread* mainThread = QCoreApplication::instance()->thread();
    std::atomic<QThread*> blockingThread{nullptr};
    std::atomic<QThread*> queuedThread{nullptr};
    std::atomic<bool> blockingReturned{false};
    std::thread worker([&] {
        runOnMainThread([&] { blockingThread = QThread::currentThread(); }, true);
        blockingReturned = blockingThread.load() != nullptr;  // set before the call returned
        runOnMainThread([&] { queuedThread = QThread::currentThread(); }, false);
    });
    QElapsedTimer timer;
    timer.start();
    while (!queuedThread && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_EQ(blockingThread.load(), mainThread);
    EXPECT_EQ(queuedThread.load(), mainThread);
    EXPECT_TRUE(blockingReturned);
}
