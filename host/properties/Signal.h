#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace Dravelin {

// A host-side notification without Qt: listeners are plain callables, identified by the
// handle `connect` returns. Listeners run on the thread that calls `notify`.
template <typename... Args>
class Signal
{
public:
    using Slot = std::function<void(Args...)>;

    int connect(Slot slot)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int handle = m_next++;
        m_slots.emplace(handle, std::move(slot));
        return handle;
    }

    void disconnect(int handle)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slots.erase(handle);
    }

    void notify(Args... args) const
    {
        std::map<int, Slot> listeners;
        {
            // A listener may connect or disconnect while being notified.
            std::lock_guard<std::mutex> lock(m_mutex);
            listeners = m_slots;
        }
        for (auto& entry : listeners)
            entry.second(args...);
    }

    int connectionCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(m_slots.size());
    }

private:
    mutable std::mutex m_mutex;
    std::map<int, Slot> m_slots;
    int m_next = 1;
};

}  // namespace Dravelin
