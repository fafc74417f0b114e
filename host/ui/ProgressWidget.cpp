#include "host/ui/ProgressWidget.h"

#include "host/ui/WidgetHelpers.h"

#include <QGridLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace Dravelin {

ProgressWidget::ProgressWidget(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    m_rowsLayout = new QGridLayout;
    m_rowsLayout->setColumnStretch(1, 1);
    m_idleLabel = new QLabel(tr("No running tasks"), this);
    m_idleLabel->setObjectName("idleLabel");
    m_idleLabel->setEnabled(false);
    layout->addWidget(m_idleLabel);
    layout->addLayout(m_rowsLayout);
    layout->addStretch(1);
}

ProgressWidget::~ProgressWidget()
{
    // Tasks still running elsewhere must not reach a half-destroyed display.
    detachTasks();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ownTask.reset();
}

void ProgressWidget::scheduleRefresh()
{
    if (!m_refreshPending.exchange(true))
        QMetaObject::invokeMethod(this, &ProgressWidget::refresh, Qt::QueuedConnection);
}

void ProgressWidget::taskStarted(const std::shared_ptr<TaskState>& task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running.push_back(task);
        if (m_cancelledAll)
            task->requestCancel();
    }
    scheduleRefresh();
}

void ProgressWidget::taskChanged(const std::shared_ptr<TaskState>&)
{
    scheduleRefresh();
}

void ProgressWidget::taskFinished(const std::shared_ptr<TaskState>& task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running.erase(std::remove(m_running.begin(), m_running.end(), task), m_running.end());
    }
    scheduleRefresh();
}

// The display's own task is started without m_mutex held: its start hook takes the lock.
void ProgressWidget::setRange(long long maximum)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_ownTask) {
        lock.unlock();
        auto task = std::make_unique<Task>(this, int(std::clamp<long long>(maximum, 0, INT_MAX)));
        lock.lock();
        if (!m_ownTask) {
            m_ownTask = std::move(task);
            return;
        }
    }
    Task* own = m_ownTask.get();
    lock.unlock();
    own->setSteps(int(std::clamp<long long>(maximum, 0, INT_MAX)));
}

void ProgressWidget::setValue(long long value)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_ownTask) {
        lock.unlock();
        setRange(0);
        lock.lock();
    }
    Task* own = m_ownTask.get();
    // Done once it reaches its end: no one may be left to call reset(), and a row at 100 %
    // would stay until the application closes. A further phase starts a new task.
    if (own->steps() > 0 && value >= own->steps()) {
        std::unique_ptr<Task> done = std::move(m_ownTask);
        lock.unlock();
        return;
    }
    lock.unlock();
    own->setStep(int(std::clamp<long long>(value, INT_MIN, INT_MAX)));
}

void ProgressWidget::setText(const std::string& text)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_ownTask) {
        lock.unlock();
        setRange(0);
        lock.lock();
    }
    Task* own = m_ownTask.get();
    lock.unlock();
    own->setDescription(text);
}

bool ProgressWidget::wasCancelled() const
{
    if (m_cancelledAll)
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ownTask && m_ownTask->state()->cancelRequested();
}

void ProgressWidget::cancelAll()
{
    m_cancelledAll = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& task : m_running)
        if (task->isCancellable())
            task->requestCancel();
}

void ProgressWidget::reset()
{
    std::unique_ptr<Task> own;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        own = std::move(m_ownTask);
    }
    own.reset();
    m_cancelledAll = false;
}

int ProgressWidget::taskCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_running.size());
}

QToolButton* ProgressWidget::cancelButton(std::uint64_t taskId) const
{
    auto it = m_rows.find(taskId);
    return it == m_rows.end() ? nullptr : it->second.cancel;
}

void ProgressWidget::refresh()
{
    m_refreshPending = false;
    std::vector<std::shared_ptr<TaskState>> running;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        running = m_running;
    }

    // Rows of ended tasks go; new tasks get rows in start order.
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        const bool alive =
            std::any_of(running.begin(), running.end(), [&](const auto& task) { return task->id() == it->first; });
        if (alive) {
            ++it;
        } else {
            delete it->second.label;
            delete it->second.bar;
            delete it->second.cancel;
            it = m_rows.erase(it);
        }
    }
    for (const auto& task : running) {
        auto it = m_rows.find(task->id());
        if (it == m_rows.end()) {
            Row row;
            const QString id = QString::number(task->id());
            row.label = new QLabel(this);
            row.label->setObjectName("taskLabel" + id);
            row.bar = new QProgressBar(this);
            row.bar->setObjectName("taskBar" + id);
            row.bar->setTextVisible(true);
            row.cancel = new QToolButton(this);
            row.cancel->setObjectName("taskCancel" + id);
            row.cancel->setIcon(QtHelpers::generateMultiSizeIcon(QStringLiteral("ButtonClear.png")));
            row.cancel->setToolTip(tr("Cancel"));
            row.cancel->setAutoRaise(true);
            // A task that cannot be cancelled keeps the button's place, so the bars line up.
            QSizePolicy keepPlace = row.cancel->sizePolicy();
            keepPlace.setRetainSizeWhenHidden(true);
            row.cancel->setSizePolicy(keepPlace);
            row.cancel->setVisible(task->isCancellable());
            std::weak_ptr<TaskState> weak = task;
            connect(row.cancel, &QToolButton::clicked, this, [this, weak] {
                if (auto state = weak.lock()) {
                    state->requestCancel();
                    scheduleRefresh();
                }
            });
            const int line = m_nextRow++;
            m_rowsLayout->addWidget(row.label, line, 0);
            m_rowsLayout->addWidget(row.bar, line, 1);
            m_rowsLayout->addWidget(row.cancel, line, 2);
            it = m_rows.emplace(task->id(), row).first;
        }
        Row& row = it->second;
        const int steps = task->steps();
        const QString description = QString::fromStdString(task->description());
        row.label->setText(task->cancelRequested() ? tr("%1 (cancelling)").arg(description) : description);
        row.bar->setRange(0, steps);  // 0..0 shows a busy bar
        if (steps > 0)
            row.bar->setValue(std::clamp(task->step(), 0, steps));
        row.cancel->setEnabled(!task->cancelRequested());
    }
    m_idleLabel->setVisible(running.empty());
    if (m_shownCount != int(running.size())) {
        m_shownCount = int(running.size());
        Q_EMIT taskCountChanged(m_shownCount);
    }
}

}  // namespace Dravelin

#include "moc_ProgressWidget.cpp"
