#include "host/core/Progress.h"

#include <gtest/gtest.h>

#include <memory>

namespace Dravelin {
namespace {

// Records what a plain reporter is told.
class Recorder : public Progress
{
public:
    void setRange(long long m) override { maximum = m; }
    void setValue(long long v) override { value = v; }
    void setText(const std::string& t) override { text = t; }
    bool wasCancelled() const override { return cancelled; }
    long long maximum = -1, value = -1;
    std::string text;
    bool cancelled = false;
};

TEST(ProgressTask, PlainReportersShowTheChangedTaskAndTasksOutliveTheirReporter)
{
    auto recorder = std::make_unique<Recorder>();
    Progress::Task task(recorder.get(), 5, "Loading");
    task.incrementStep(2);
    EXPECT_EQ(recorder->text, "Loading");
    EXPECT_EQ(recorder->maximum, 5);
    EXPECT_EQ(recorder->value, 2);
    recorder->cancelled = true;
    EXPECT_TRUE(task.wasCancelled());

    recorder.reset();  // the reporter goes first
    task.incrementStep();
    EXPECT_FALSE(task.wasCancelled());
    EXPECT_EQ(task.step(), 3);
}

}  // namespace
}  // namespace Dravelin
