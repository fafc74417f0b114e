#include "host/core/NestedProgress.h"
#include "host/ui/ProgressWidget.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <thread>

namespace Dravelin {
namespace {

QString rowText(ProgressWidget& display, std::uint64_t id)
{
    auto* label = display.findChild<QLabel*>(QString("taskLabel%1").arg(id));
    return label ? label->text() : QString();
}

TEST(ProgressWidget, EveryTaskHasItsOwnRowAndCancelButtonAcrossThreadsAndNesting)
{
    ProgressWidget display;
    NestedProgress meshes(&display, "Meshes");
    std::unique_ptr<Progress::Task> scan, convert, mesh;
    std::thread worker([&] {
        scan = std::make_unique<Progress::Task>(&display, 0, "Scanning Folder...");
        convert = std::make_unique<Progress::Task>(&display, 10, "Converting Files...");
        convert->incrementStep(4);
        mesh = std::make_unique<Progress::Task>(&meshes, 3, "Lung");
    });
    worker.join();
    QApplication::processEvents();
    EXPECT_EQ(display.taskCount(), 3);
    EXPECT_EQ(rowText(display, mesh->state()->id()), "");  // shown through the nested copy only
    EXPECT_EQ(meshes.runningTasks(), 1);
    auto* bar = display.findChild<QProgressBar*>(QString("taskBar%1").arg(convert->state()->id()));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value(), 4);
    EXPECT_EQ(bar->maximum(), 10);

    // The parent's copy of the nested task carries the prefix; its cancel reaches the task.
    std::uint64_t copyId = 0;
    for (std::uint64_t id = 1; id < mesh->state()->id() + 10; ++id)
        if (rowText(display, id) == "Meshes: Lung")
            copyId = id;
    ASSERT_NE(copyId, 0u);
    display.cancelButton(copyId)->click();
    EXPECT_TRUE(mesh->wasCancelled());

    display.cancelButton(convert->state()->id())->click();
    EXPECT_TRUE(convert->wasCancelled());
    EXPECT_FALSE(scan->wasCancelled());

    std::thread([&] { convert.reset(); }).join();
    QApplication::processEvents();
    EXPECT_EQ(display.taskCount(), 2);
    EXPECT_EQ(display.findChildren<QProgressBar*>().size(), 2);

    Progress::Task later(&meshes, 1, "Heart");
    meshes.cancel();
    EXPECT_TRUE(later.wasCancelled());
    EXPECT_FALSE(scan->wasCancelled());

    // Progress reported through the widget itself, value before any range, shows as its own row.
    ProgressWidget plain;
    plain.setValue(3);
    plain.setText("Loading");
    QApplication::processEvents();
    EXPECT_EQ(plain.taskCount(), 1);
    // It leaves once it reaches its end, although no one resets the display.
    plain.setRange(5);
    plain.setValue(5);
    QApplication::processEvents();
    EXPECT_EQ(plain.taskCount(), 0);

    // A display closed before its tasks end leaves them running unseen.
    auto* closed = new ProgressWidget;
    Progress::Task running(closed, 2, "Left running");
    delete closed;
    running.setStep(1);
}

}  // namespace
}  // namespace Dravelin
