#include "host/core/ThreadPool.h"

#include <gtest/gtest.h>

#include <chrono>

using Dravelin::Threading::ThreadPool;
using namespace std::chrono_literals;

TEST(ThreadPool, FuturesCarryResultsAndExceptions)
{
    ThreadPool pool(2);
    auto answer = pool.enqueue([] { return 6 * 7; });
    auto failing = pool.enqueue([]() -> int { throw std::runtime_error("broken"); });
    EXPECT_EQ(answer.get(), 42);
    EXPECT_THROW(failing.get(), std::runtime_error);
    EXPECT_FALSE(ThreadPool::currentTaskShouldStop());
}

// Waiting covers the tasks that tasks enqueue; an idle pool returns at once.
TEST(ThreadPool, TasksMayEnqueueTasksAndWaitingCoversThem)
{
    ThreadPool pool(2);
    std::atomic<int> done{0};
    for (int i = 0; i < 10; ++i)
        pool.enqueue([&] {
            ++done;
            pool.enqueue([&] { ++done; });
        });
    pool.waitUntilFinished();
    EXPECT_EQ(done.load(), 20);
    pool.waitUntilFinished();
}

TEST(ThreadPool, CancelDropsQueuedTasksAndStopsRunningOnes)
{
    ThreadPool pool(1);
    std::atomic<bool> started{false};
    std::atomic<bool> sawStop{false};
    auto running = pool.enqueue([&] {
        started = true;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!ThreadPool::currentTaskShouldStop() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        sawStop = ThreadPool::currentTaskShouldStop();
    });
    auto queued = pool.enqueue([] { return 1; });
    while (!started)
        std::this_thread::sleep_for(1ms);
    pool.cancelTasks();
    // (The pool-wide request may already be cleared here: the running task can see it, end and
    // leave the pool idle before this thread looks. `sawStop` is what must hold.)
    // A task enqueued right after the cancel must not inherit the stop request.
    auto fresh = pool.enqueue([] { return ThreadPool::currentTaskShouldStop(); });
    running.get();
    EXPECT_TRUE(sawStop);
    try {
        queued.get();
        FAIL() << "a dropped task's future must be broken";
    } catch (const std::future_error& e) {
        EXPECT_EQ(e.code(), std::future_errc::broken_promise);
    }
    EXPECT_FALSE(fresh.get());
    pool.waitUntilFinished();
    EXPECT_FALSE(pool.stopRequested());
}
