// Measurements on a large generated folder; skipped unless DRAVELIN_BENCH_DIR names one
// (bench/scan/run.sh sets it).
#include "scanning/Scanner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace Dravelin::Dicom;
using Clock = std::chrono::steady_clock;

namespace {

class CancelWatcher : public Scanner
{
public:
    CancelWatcher() : Scanner(nullptr) {}
    std::atomic<int> value{0};
    std::atomic<int> maximum{0};

protected:
    void updateProgress(int v, int m) override
    {
        value = v;
        maximum = m;
    }
    void updateProgressText(const std::string&) override {}
};

}  // namespace

TEST(ScannerBench, CancelLatencyOnLargeFolder)
{
    const QString dir = qEnvironmentVariable("DRAVELIN_BENCH_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "DRAVELIN_BENCH_DIR not set";
    for (const int threads : {1, 2}) {
        for (const int delayMs : {5, 300}) {
            CancelWatcher scanner;
            scanner.setNumberOfThreads(threads);
            Clock::time_point cancelledAt;
            std::thread canceller([&] {
                // Wait for the parallel phase (the listing ends with (0, n)), then let it run a while.
                while (!(scanner.maximum > 1000 && scanner.value < scanner.maximum / 2))
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                cancelledAt = Clock::now();
                scanner.cancel();
            });
            scanner.scanDirectory(dir, true, false, true);
            const auto returnedAt = Clock::now();
            canceller.join();
            const double ms = std::chrono::duration<double, std::milli>(returnedAt - cancelledAt).count();
            std::printf("cancel latency, %d thread(s), cancelled after %d ms: %.2f ms (%d of %d files done)\n", threads,
                        delayMs, ms, scanner.value.load(), scanner.maximum.load());
            EXPECT_LT(ms, 200.0);
            EXPECT_LT(scanner.value.load(), scanner.maximum.load());
        }
    }
}
