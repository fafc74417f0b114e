// The DICOMweb scan of a local Orthanc (about 100 studies x 4 series x 25 instances): the
// scanner's default number of threads and a few larger pools against one thread, in the same
// run, best of N; the folder scan of the same files for scale.
#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "host/network/HttpError.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDirIterator>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/oflog/oflog.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace Dravelin;

namespace {

struct Options
{
    int patients = 50, studies = 2, series = 4, images = 25, size = 32;
    int rounds = 3;
    int timeLimitSeconds = 1200;
    std::vector<int> extraThreads = {4, 8};
};

bool parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (value <= 0)
            return false;
        if (key == "--patients")
            o.patients = value;
        else if (key == "--studies")
            o.studies = value;
        else if (key == "--series")
            o.series = value;
        else if (key == "--images")
            o.images = value;
        else if (key == "--size")
            o.size = value;
        else if (key == "--rounds")
            o.rounds = value;
        else if (key == "--time-limit")
            o.timeLimitSeconds = value;
        else
            return false;
    }
    return argc % 2 == 1;
}

size_t imageCount(const std::vector<Dicom::Patient*>& patients)
{
    size_t n = 0;
    for (const Dicom::Patient* p : patients)
        for (const Dicom::Study* st : p->studies)
            for (const Dicom::Series* se : st->series)
                n += se->images.size();
    return n;
}

// Best wall time of `rounds` runs; false in `ok` when a run did not find every instance.
double best(int rounds, const std::function<size_t()>& run, size_t expected, bool& ok)
{
    double seconds = 1e9;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const size_t found = run();
        seconds = std::min(seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (found != expected) {
            std::fprintf(stderr, "bench_web: found %zu of %zu instances\n", found, expected);
            ok = false;
        }
    }
    return seconds;
}

// Kills the server and ends the process when the run takes longer than allowed.
class Watchdog
{
public:
    Watchdog(int seconds, const Test::PacsTestServer& server)
        : m_thread([this, seconds, &server] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (m_done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_finished; }))
                  return;
              std::fprintf(stderr, "bench_web: time limit of %d s reached\n", seconds);
              if (server.pid() > 0)
                  ::kill(server.pid(), SIGKILL);
              std::_Exit(3);
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    OFLog::configure(OFLogger::ERROR_LOG_LEVEL);
    Log::setThreshold(3);
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: bench_web [--patients 50] [--studies 2] [--series 4] [--images 25] [--size 32] "
                     "[--rounds 3] [--time-limit 1200]\n");
        return 2;
    }

    Test::TempDir data;
    auto phase = std::chrono::steady_clock::now();
    const auto lap = [&phase] {
        const auto now = std::chrono::steady_clock::now();
        const double s = std::chrono::duration<double>(now - phase).count();
        phase = now;
        return s;
    };
    if (!Test::runGenerator({"folder", data.path(), "--patients", QString::number(o.patients), "--studies",
                             QString::number(o.studies), "--series", QString::number(o.series), "--images",
                             QString::number(o.images), "--size", QString::number(o.size)})) {
        std::fprintf(stderr, "bench_web: dravelin-gen-data failed\n");
        return 1;
    }
    QStringList files;
    QDirIterator it(data.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    const size_t expected = size_t(o.patients) * o.studies * o.series * o.images;
    std::printf("data: %d studies x %d series x %d instances = %zu files (%dx%d), generated in %.1f s\n",
                o.patients * o.studies, o.series, o.images, expected, o.size, o.size, lap());

    Test::PacsTestServer::Options serverOptions;
    serverOptions.httpEnabled = true;
    Test::PacsTestServer server(Test::PacsTestServer::Kind::Orthanc, serverOptions);
    if (!server.start()) {
        std::fprintf(stderr, "bench_web: %s\n", qPrintable(server.errorText()));
        return 1;
    }
    Watchdog watchdog(o.timeLimitSeconds, server);
    const int stored = server.store(files);
    std::printf("Orthanc (pid %d): %d instances stored by C-STORE in %.1f s\n", int(server.pid()), stored, lap());
    if (stored != int(expected)) {
        std::fprintf(stderr, "bench_web: stored %d of %zu\n", stored, expected);
        return 1;
    }

    const Filesystem::Url url("http://127.0.0.1:" + std::to_string(server.httpPort()) + "/dicom-web");
    const auto webScan = [&url](int threads) {
        return [&url, threads] {
            Dicom::Scanner scanner(std::make_shared<Dicom::DatasetCache>(0));
            scanner.setNumberOfThreads(threads);
            if (const auto error = scanner.scanWeb(url))
                std::fprintf(stderr, "bench_web: %s\n", error->text().c_str());
            return imageCount(scanner.patients());
        };
    };
    bool ok = true;
    const int defaultThreads = Dicom::Scanner::defaultNumberOfThreads();
    // Warm Orthanc's caches once so that the first measured variant is not penalised.
    webScan(defaultThreads)();
    lap();
    const double one = best(o.rounds, webScan(1), expected, ok);
    const double byDefault = best(o.rounds, webScan(defaultThreads), expected, ok);
    std::vector<double> extra;
    for (int threads : o.extraThreads)
        extra.push_back(best(o.rounds, webScan(threads), expected, ok));
    const double disk = best(
        o.rounds,
        [&data] {
            Dicom::Scanner scanner(std::make_shared<Dicom::DatasetCache>(0));
            scanner.scanDirectory(data.path(), true, false, true);
            return imageCount(scanner.patients());
        },
        expected, ok);
    const double measured = lap();
    server.stop();

    const auto perInstance = [expected](double s) { return 1000.0 * s / double(expected); };
    std::printf("scanWeb of %zu instances, best of %d (%.0f s of measuring):\n", expected, o.rounds, measured);
    std::printf("  1 thread:                   %7.3f s  %.3f ms/instance\n", one, perInstance(one));
    std::printf("  default (%d thread%s):       %7.3f s  %.3f ms/instance  ratio 1 thread / default: %.2fx\n",
                defaultThreads, defaultThreads == 1 ? " " : "s", byDefault, perInstance(byDefault), one / byDefault);
    for (size_t i = 0; i < extra.size(); ++i)
        std::printf("  %d threads:                  %7.3f s  %.3f ms/instance  ratio 1 thread / %d: %.2fx\n",
                    o.extraThreads[i], extra[i], perInstance(extra[i]), o.extraThreads[i], one / extra[i]);
    std::printf("folder scan of the same files (default threads): %.3f s  %.3f ms/instance\n", disk, perInstance(disk));
    return ok ? 0 : 1;
}
