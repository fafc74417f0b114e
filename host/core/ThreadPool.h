#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace Dravelin::Threading {

// A fixed set of worker threads with a FIFO queue. Tasks may enqueue further tasks.
// Exceptions thrown by a task end up in its future.
class ThreadPool
{
public:
    explicit ThreadPool(int threads = 0);  // 0: std::thread::hardware_concurrency()
    ~ThreadPool();                         // cancels queued tasks, waits for running ones
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // The process-wide pool (as many threads as cores).
    static ThreadPool& global();

    int threadCount() const;

    template <typename F>
    auto enqueue(F&& task) -> std::future<std::invoke_result_t<F>>;

    // Blocks until the queue is empty and no task runs. Safe to call from outside the pool only.
    void waitUntilFinished();
    // Drops tasks that have not started (their futures get std::future_error broken_promise)
    // and raises the stop request of the tasks running now. Tasks enqueued afterwards start
    // without a stop request, even while cancelled ones are still finishing.
    void cancelTasks();
    // Inside a task of this pool: whether that task was asked to stop. Elsewhere: whether
    // cancelTasks() was called since the pool was last idle.
    bool stopRequested() const;
    // The stop request of the task running on the current thread (false outside any pool).
    static bool currentTaskShouldStop();

private:
    struct Job
    {
        std::function<void()> run;
        unsigned long long generation = 0;  // the cancel generation at enqueue time
    };

    void push(std::function<void()> job);
    void workerLoop();

    std::vector<std::thread> m_workers;
    std::deque<Job> m_queue;
    std::atomic<unsigned long long> m_cancelGeneration{0};
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    int m_running = 0;
    bool m_shutdown = false;
    std::atomic<bool> m_stop{false};
};

template <typename F>
auto ThreadPool::enqueue(F&& task) -> std::future<std::invoke_result_t<F>>
{
    using R = std::invoke_result_t<F>;
    auto packaged = std::make_shared<std::packaged_task<R()>>(std::forward<F>(task));
    std::future<R> future = packaged->get_future();
    push([packaged]() { (*packaged)(); });
    return future;
}

}  // namespace Dravelin::Threading
