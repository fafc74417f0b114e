#pragma once

#include "host/dicom/DatasetCache.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

namespace Dravelin::Test {

// A dataset cache whose loads can be held at a gate (closed until opened or released), and which
// counts them per location. With `fail` set, every load throws once through the gate.
class SlowDatasetCache : public Dicom::DatasetCache
{
public:
    std::atomic<bool> fail{false};

    // Opens the gate when it goes: no held load outlives a failed test.
    struct OpenOnExit
    {
        SlowDatasetCache& cache;
        ~OpenOnExit() { cache.open(); }
    };

    std::vector<std::shared_ptr<DcmDataset>> load(const Filesystem::Url& url, std::vector<std::string>* fileNames,
                                                  Progress* progress, bool complete) override
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_started[url.string()];
            ++m_startedTotal;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released >= m_startedTotal || m_open; });
        }
        if (fail)
            throw std::runtime_error("disk on fire");
        auto result = DatasetCache::load(url, fileNames, progress, complete);
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_finished;
        m_changed.notify_all();
        return result;
    }

    // Lets held loads through: `count` more of them, or all from now on.
    void release(int count = 1)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released += count;
        m_changed.notify_all();
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool waitForStarted(int total, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_startedTotal >= total; });
    }
    bool waitForFinished(int total, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_finished >= total; });
    }
    int started(const std::string& url)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_started[url];
    }
    int startedTotal()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_startedTotal;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, int> m_started;
    int m_startedTotal = 0;
    int m_released = 0;
    int m_finished = 0;
    bool m_open = false;
};

}  // namespace Dravelin::Test
