#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Dravelin {

// Progress reporter handed to long operations. Implementations may be called from any thread.
//
// A reporter shows tasks: an operation creates a Progress::Task on it (steps, description),
// advances it and polls wasCancelled(); the task ends when it is destroyed. A reporter that
// shows several tasks at once (the application's progress display) overrides the task hooks;
// the default hooks show a task through setRange/setValue/setText, so a plain reporter shows
// the task that changed last. A reporter must outlive its tasks, or call detachTasks() in its
// destructor (tasks then keep running unseen).
class Progress
{
public:
    class Task;
    class TaskState;

    Progress() = default;
    virtual ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    virtual void setRange(long long maximum) = 0;
    virtual void setValue(long long value) = 0;
    virtual void setText(const std::string& text) = 0;
    // True once the user asked to stop; long operations poll it.
    virtual bool wasCancelled() const = 0;

protected:
    friend class Task;
    // Called on the thread that starts, changes or ends the task.
    virtual void taskStarted(const std::shared_ptr<TaskState>& task);
    virtual void taskChanged(const std::shared_ptr<TaskState>& task);
    virtual void taskFinished(const std::shared_ptr<TaskState>& task);
    // Whether `task` should stop: by default when the reporter was cancelled.
    virtual bool isTaskCancelled(const TaskState& task) const;
    // Cuts every running task off this reporter; waits for hook calls in progress.
    void detachTasks();

private:
    void track(const std::shared_ptr<TaskState>& task);

    std::mutex m_tasksMutex;
    std::vector<std::weak_ptr<TaskState>> m_tasks;
};

// What a reporter sees of one task; shared between the task and the reporters showing it, so
// it stays valid after the task ended. Thread-safe.
class Progress::TaskState
{
public:
    std::uint64_t id() const { return m_id; }
    // 0 steps: the amount of work is unknown (a busy indicator).
    int steps() const { return m_steps.load(); }
    int step() const { return m_step.load(); }
    std::string description() const;
    bool isCancellable() const { return m_cancellable; }
    bool isFinished() const { return m_finished.load(); }
    // The user asked this task to stop.
    bool cancelRequested() const { return m_cancel.load(); }
    void requestCancel() { m_cancel = true; }

private:
    friend class Progress;
    friend class Progress::Task;
    TaskState(Progress* reporter, int steps, std::string description, bool cancellable);

    const std::uint64_t m_id;
    const bool m_cancellable;
    std::atomic<int> m_steps;
    std::atomic<int> m_step{0};
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_finished{false};
    mutable std::mutex m_descriptionMutex;
    std::string m_description;
    // Held while a hook runs, so that detaching waits for it.
    mutable std::mutex m_reporterMutex;
    Progress* m_reporter;
};

// One running piece of work shown by a reporter (which may be null: the task is then only a
// cancellation point). Steps may be advanced from any thread.
class Progress::Task
{
public:
    Task(Progress* reporter, int steps = 0, const std::string& description = std::string(), bool cancellable = true);
    // Ends the task.
    ~Task();
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    int steps() const { return m_state->steps(); }
    void setSteps(int steps);
    int step() const { return m_state->step(); }
    void setStep(int step);
    void incrementStep(int by = 1);
    std::string description() const { return m_state->description(); }
    void setDescription(const std::string& description);

    // True once the user asked to stop this task or its reporter.
    bool wasCancelled() const;
    // Asks this task to stop, as the user's cancel button does.
    void cancel() { m_state->requestCancel(); }
    // Ends the task before it is destroyed; later changes are ignored.
    void finish();

    const std::shared_ptr<TaskState>& state() const { return m_state; }

private:
    enum class Event { Changed, Finished };
    void notify(Event event);

    std::shared_ptr<TaskState> m_state;
};

}  // namespace Dravelin
