// dravelin-gen-data: deterministic DICOM data for the sample tree, tests and benchmarks.
#include "tools/FolderWriter.h"
#include "tools/RtStructWriter.h"
#include "tools/SampleDataWriter.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/oflog/oflog.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: dravelin-gen-data sample OUTDIR\n"
                 "       dravelin-gen-data folder OUTDIR --patients P --studies S --series R --images N\n"
                 "                         [--size 128] [--junk K] [--truncated T] [--seed X]\n"
                 "       dravelin-gen-data rtstruct OUTDIR [--slices 40] [--size 128] [--structures 3]\n");
    return 2;
}

bool parseNumber(const char* text, long long minimum, long long& out)
{
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (!text[0] || *end || value < minimum)
        return false;
    out = value;
    return true;
}

int runFolder(int argc, char** argv)
{
    Dravelin::Tools::FolderWriter::Options options;
    options.outDir = argv[2];
    for (int i = 3; i < argc; i += 2) {
        if (i + 1 >= argc)
            return usage();
        const std::string key = argv[i];
        long long value = 0;
        if (!parseNumber(argv[i + 1], key == "--seed" || key == "--junk" || key == "--truncated" ? 0 : 1, value) ||
            (key != "--seed" && value > 1000000))
            return usage();
        if (key == "--patients")
            options.patients = static_cast<int>(value);
        else if (key == "--studies")
            options.studies = static_cast<int>(value);
        else if (key == "--series")
            options.series = static_cast<int>(value);
        else if (key == "--images")
            options.images = static_cast<int>(value);
        else if (key == "--size")
            options.size = static_cast<int>(value);
        else if (key == "--junk")
            options.junk = static_cast<int>(value);
        else if (key == "--truncated")
            options.truncated = static_cast<int>(value);
        else if (key == "--seed")
            options.seed = static_cast<unsigned long long>(value);
        else
            return usage();
    }
    const auto start = std::chrono::steady_clock::now();
    const long long written = Dravelin::Tools::FolderWriter(options).write();
    if (written < 0)
        return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%lld images, %d junk, %d truncated files in %s (%.2f s)\n", written, options.junk, options.truncated,
                options.outDir.c_str(), seconds);
    return 0;
}

int runRtStruct(int argc, char** argv)
{
    Dravelin::Tools::RtStructWriter::Options options;
    options.outDir = argv[2];
    for (int i = 3; i < argc; i += 2) {
        long long value = 0;
        if (i + 1 >= argc || !parseNumber(argv[i + 1], 1, value) || value > 4096)
            return usage();
        const std::string key = argv[i];
        if (key == "--slices")
            options.slices = static_cast<int>(value);
        else if (key == "--size" && value >= 128)
            options.size = static_cast<int>(value);
        else if (key == "--structures" && value <= 1000)
            options.structures = static_cast<int>(value);
        else
            return usage();
    }
    if (options.slices < 30)
        return usage();
    return Dravelin::Tools::RtStructWriter(options).write() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    OFLog::configure(OFLogger::ERROR_LOG_LEVEL);
    if (argc >= 3 && std::strcmp(argv[1], "sample") == 0 && argc == 3) {
        const int written = Dravelin::Tools::SampleDataWriter(argv[2]).write();
        return written < 0 ? 1 : 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "folder") == 0)
        return runFolder(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "rtstruct") == 0)
        return runRtStruct(argc, argv);
    return usage();
}
