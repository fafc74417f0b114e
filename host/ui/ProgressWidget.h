#pragma once

#include "host/core/Progress.h"

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class QLabel;
class QProgressBar;
class QToolButton;
class QGridLayout;

namespace Dravelin {

// The application's progress display (the main window docks it): every running task in a
// row of its own with its description, a bar (busy while the amount of work is unknown) and a
// cancel button when the task can be cancelled. Tasks may run and change on any thread; the
// rows follow on the GUI thread. The plain setRange/setValue/setText calls drive one task of
// the display's own, shown until reset().
class ProgressWidget : public QWidget, public Progress
{
    Q_OBJECT
public:
    explicit ProgressWidget(QWidget* parent = nullptr);
    ~ProgressWidget() override;

    void setRange(long long maximum) override;
    void setValue(long long value) override;
    void setText(const std::string& text) override;
    // True once the display's own task was cancelled or cancelAll() was called.
    bool wasCancelled() const override;

    // Asks every running task to stop.
    void cancelAll();
    // Ends the display's own task and clears its cancelled state.
    void reset();

    int taskCount() const;
    // The cancel button of a task's row (null until the row is shown). The row's label and bar
    // are the children named "taskLabel<id>" and "taskBar<id>".
    QToolButton* cancelButton(std::uint64_t taskId) const;

public Q_SLOTS:
    // Brings the rows up to date (runs by itself after changes).
    void refresh();

Q_SIGNALS:
    void taskCountChanged(int count);

protected:
    void taskStarted(const std::shared_ptr<TaskState>& task) override;
    void taskChanged(const std::shared_ptr<TaskState>& task) override;
    void taskFinished(const std::shared_ptr<TaskState>& task) override;

private:
    struct Row
    {
        QLabel* label;
        QProgressBar* bar;
        QToolButton* cancel;
    };
    void scheduleRefresh();

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<TaskState>> m_running;  // in start order
    std::unique_ptr<Task> m_ownTask;
    std::atomic<bool> m_refreshPending{false};
    std::atomic<bool> m_cancelledAll{false};

    // GUI thread only.
    std::map<std::uint64_t, Row> m_rows;
    QGridLayout* m_rowsLayout = nullptr;
    int m_nextRow = 0;
    QLabel* m_idleLabel = nullptr;
    int m_shownCount = 0;
};

}  // namespace Dravelin
