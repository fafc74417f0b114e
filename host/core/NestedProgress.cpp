#include "host/core/NestedProgress.h"

#include <utility>

namespace Dravelin {

NestedProgress::NestedProgress(Progress* parent, std::string prefix) : m_parent(parent), m_prefix(std::move(prefix)) {}

NestedProgress::~NestedProgress()
{
    detachTasks();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shown.clear();
}

void NestedProgress::setParent(Progress* parent)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_parent = parent;
}

int NestedProgress::runningTasks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_shown.size());
}

std::string NestedProgress::shownDescription(const TaskState& task) const
{
    const std::string description = task.description();
    if (m_prefix.empty())
        return description;
    return description.empty() ? m_prefix : m_prefix + ": " + description;
}

void NestedProgress::taskStarted(const std::shared_ptr<TaskState>& task)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Without a parent the copy has no reporter; it still counts the task as running.
    m_shown[task->id()] =
        std::make_unique<Task>(m_parent, task->steps(), shownDescription(*task), task->isCancellable());
    m_shown[task->id()]->setStep(task->step());
}

void NestedProgress::taskChanged(const std::shared_ptr<TaskState>& task)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_shown.find(task->id());
    if (it == m_shown.end())
        return;
    Task& shown = *it->second;
    if (shown.steps() != task->steps())
        shown.setSteps(task->steps());
    const std::string description = shownDescription(*task);
    if (shown.description() != description)
        shown.setDescription(description);
    if (shown.step() != task->step())
        shown.setStep(task->step());
}

void NestedProgress::taskFinished(const std::shared_ptr<TaskState>& task)
{
    std::unique_ptr<Task> shown;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_shown.find(task->id());
        if (it == m_shown.end())
            return;
        shown = std::move(it->second);
        m_shown.erase(it);
    }
    shown.reset();  // ends the parent's copy outside our lock
}

bool NestedProgress::isTaskCancelled(const TaskState& task) const
{
    if (wasCancelled())
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_shown.find(task.id());
    return it != m_shown.end() && it->second->wasCancelled();
}

bool NestedProgress::wasCancelled() const
{
    if (m_cancelled)
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_parent && m_parent->wasCancelled();
}

void NestedProgress::setRange(long long maximum)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_parent)
        m_parent->setRange(maximum);
}

void NestedProgress::setValue(long long value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_parent)
        m_parent->setValue(value);
}

void NestedProgress::setText(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_parent)
        m_parent->setText(m_prefix.empty() ? text : m_prefix + ": " + text);
}

}  // namespace Dravelin
