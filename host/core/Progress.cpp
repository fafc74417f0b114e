#include "host/core/Progress.h"

#include <algorithm>

namespace Dravelin {

namespace {

std::atomic<std::uint64_t> nextTaskId{1};

}  // namespace

Progress::~Progress()
{
    detachTasks();
}

void Progress::taskStarted(const std::shared_ptr<TaskState>& task)
{
    taskChanged(task);
}

void Progress::taskChanged(const std::shared_ptr<TaskState>& task)
{
    setText(task->description());
    setRange(task->steps());
    setValue(task->step());
}

void Progress::taskFinished(const std::shared_ptr<TaskState>&) {}

bool Progress::isTaskCancelled(const TaskState&) const
{
    return wasCancelled();
}

void Progress::track(const std::shared_ptr<TaskState>& task)
{
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    m_tasks.erase(std::remove_if(m_tasks.begin(), m_tasks.end(), [](const auto& t) { return t.expired(); }),
                  m_tasks.end());
    m_tasks.push_back(task);
}

void Progress::detachTasks()
{
    std::vector<std::weak_ptr<TaskState>> tasks;
    {
        std::lock_guard<std::mutex> lock(m_tasksMutex);
        tasks.swap(m_tasks);
    }
    for (const auto& weak : tasks)
        if (auto task = weak.lock()) {
            std::lock_guard<std::mutex> lock(task->m_reporterMutex);
            if (task->m_reporter == this)
                task->m_reporter = nullptr;
        }
}

Progress::TaskState::TaskState(Progress* reporter, int steps, std::string description, bool cancellable)
    : m_id(nextTaskId++),
      m_cancellable(cancellable),
      m_steps(std::max(0, steps)),
      m_description(std::move(description)),
      m_reporter(reporter)
{
}

std::string Progress::TaskState::description() const
{
    std::lock_guard<std::mutex> lock(m_descriptionMutex);
    return m_description;
}

Progress::Task::Task(Progress* reporter, int steps, const std::string& description, bool cancellable)
    : m_state(new TaskState(reporter, steps, description, cancellable))
{
    if (!reporter)
        return;
    reporter->track(m_state);
    std::lock_guard<std::mutex> lock(m_state->m_reporterMutex);
    if (m_state->m_reporter)
        m_state->m_reporter->taskStarted(m_state);
}

Progress::Task::~Task()
{
    finish();
}

void Progress::Task::notify(Event event)
{
    std::lock_guard<std::mutex> lock(m_state->m_reporterMutex);
    Progress* reporter = m_state->m_reporter;
    if (!reporter)
        return;
    if (event == Event::Finished) {
        m_state->m_reporter = nullptr;
        reporter->taskFinished(m_state);
    } else {
        reporter->taskChanged(m_state);
    }
}

void Progress::Task::setSteps(int steps)
{
    if (m_state->isFinished())
        return;
    m_state->m_steps = std::max(0, steps);
    notify(Event::Changed);
}

void Progress::Task::setStep(int step)
{
    if (m_state->isFinished())
        return;
    m_state->m_step = step;
    notify(Event::Changed);
}

void Progress::Task::incrementStep(int by)
{
    if (m_state->isFinished())
        return;
    m_state->m_step += by;
    notify(Event::Changed);
}

void Progress::Task::setDescription(const std::string& description)
{
    if (m_state->isFinished())
        return;
    {
        std::lock_guard<std::mutex> lock(m_state->m_descriptionMutex);
        m_state->m_description = description;
    }
    notify(Event::Changed);
}

bool Progress::Task::wasCancelled() const
{
    if (m_state->cancelRequested())
        return true;
    std::lock_guard<std::mutex> lock(m_state->m_reporterMutex);
    return m_state->m_reporter && m_state->m_reporter->isTaskCancelled(*m_state);
}

void Progress::Task::finish()
{
    if (m_state->m_finished.exchange(true))
        return;
    notify(Event::Finished);
}

}  // namespace Dravelin
