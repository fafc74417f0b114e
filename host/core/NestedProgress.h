#pragma once

#include "host/core/Progress.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace Dravelin {

// A reporter for one part of the application (a controller, a background job) that groups
// its tasks: every task started on it appears on the parent reporter (with the prefix before
// its description), and cancel() stops them all at once. A cancel asked on the parent's copy
// of a task, or on the parent as a whole, reaches the task. Without a parent the tasks are
// only tracked. The plain setRange/setValue/setText calls go to the parent.
class NestedProgress : public Progress
{
public:
    explicit NestedProgress(Progress* parent = nullptr, std::string prefix = std::string());
    ~NestedProgress() override;

    // Changes where later tasks appear; running ones stay where they are.
    void setParent(Progress* parent);
    Progress* parent() const { return m_parent; }

    // Asks every task started here, now and later, to stop (until reset()).
    void cancel() { m_cancelled = true; }
    void reset() { m_cancelled = false; }
    int runningTasks() const;

    void setRange(long long maximum) override;
    void setValue(long long value) override;
    void setText(const std::string& text) override;
    bool wasCancelled() const override;

protected:
    void taskStarted(const std::shared_ptr<TaskState>& task) override;
    void taskChanged(const std::shared_ptr<TaskState>& task) override;
    void taskFinished(const std::shared_ptr<TaskState>& task) override;
    bool isTaskCancelled(const TaskState& task) const override;

private:
    std::string shownDescription(const TaskState& task) const;

    Progress* m_parent;
    const std::string m_prefix;
    std::atomic<bool> m_cancelled{false};
    mutable std::mutex m_mutex;
    // Each task of ours as the parent shows it.
    std::map<std::uint64_t, std::unique_ptr<Task>> m_shown;
};

}  // namespace Dravelin
