#include "host/core/ThreadPool.h"

namespace Dravelin::Threading {

namespace {
thread_local ThreadPool* t_currentPool = nullptr;
thread_local unsigned long long t_jobGeneration = 0;
}  // namespace

ThreadPool::ThreadPool(int threads)
{
    if (threads <= 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    for (int i = 0; i < threads; ++i)
        m_workers.emplace_back([this] { workerLoop(); });
}

ThreadPool::~ThreadPool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdown = true;
        m_queue.clear();
        m_stop = true;
        ++m_cancelGeneration;
    }
    m_wake.notify_all();
    for (auto& t : m_workers)
        t.join();
}

ThreadPool& ThreadPool::global()
{
    static ThreadPool pool;
    return pool;
}

int ThreadPool::threadCount() const
{
    return static_cast<int>(m_workers.size());
}

void ThreadPool::push(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(Job{std::move(job), m_cancelGeneration.load()});
    }
    m_wake.notify_one();
}

void ThreadPool::workerLoop()
{
    t_currentPool = this;
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_shutdown || !m_queue.empty(); });
            if (m_shutdown && m_queue.empty())
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_running;
        }
        t_jobGeneration = job.generation;
        job.run();
        job.run = nullptr;  // release captured state before the pool may report idle
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_running;
            if (m_running == 0 && m_queue.empty()) {
                m_stop = false;
                m_idle.notify_all();
            }
        }
    }
}

void ThreadPool::waitUntilFinished()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_running == 0 && m_queue.empty(); });
}

void ThreadPool::cancelTasks()
{
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_cancelGeneration;
        m_stop = m_running > 0;
        dropped.swap(m_queue);
        if (m_running == 0)
            m_idle.notify_all();
    }
    // Destroying the jobs outside the lock breaks their promises.
    dropped.clear();
}

bool ThreadPool::stopRequested() const
{
    if (t_currentPool == this)
        return t_jobGeneration < m_cancelGeneration.load();
    return m_stop.load();
}

bool ThreadPool::currentTaskShouldStop()
{
    return t_currentPool && t_currentPool->stopRequested();
}

}  // namespace Dravelin::Threading
