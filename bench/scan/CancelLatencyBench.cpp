// How long a folder scan takes to return after cancel(), with one and two threads, cancelled
// early and late in the parallel phase. Usage: bench_scan_cancel FOLDER (bench/scan/run.sh
// passes its generated folder).
#include "scanning/Scanner.h"

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

int main(int argc, char** argv)
{
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(argc == 2 ? stdout : stderr, "usage: bench_scan_cancel FOLDER\n");
        return argc == 2 ? 0 : 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    int slow = 0;
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
            std::printf(
                "cancel latency, %d thread(s), cancelled after %d ms: %.2f ms (%d of %d files done)   "
                "(goal < 200 ms, before the end)\n",
                threads, delayMs, ms, scanner.value.load(), scanner.maximum.load());
            slow += ms >= 200.0 || scanner.value.load() >= scanner.maximum.load();
        }
    }
    return slow ? 1 : 0;
}
