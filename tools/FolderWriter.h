#pragma once

#include <cstdint>
#include <string>

namespace Dravelin::Tools {

// Large synthetic folders for benchmarks and scanner tests:
//   OUT/p{p}/s{s}/r{r}/img{n}.dcm  (all numbers 1-based, not padded)
// Series alternate CT (odd r) and MR (even r); every fifth series is DERIVED\SECONDARY.
// Junk files (junk{k}.txt text, junk{k}.bin random bytes, junk{k}.dcm empty, in turn) and
// truncated copies of a valid image (truncated{t}.dcm, cut inside the header so that no
// reader can take them for an image) go into the series folders in turn.
class FolderWriter
{
public:
    struct Options
    {
        std::string outDir;
        int patients = 1;
        int studies = 1;
        int series = 1;
        int images = 1;
        int size = 128;
        int junk = 0;
        int truncated = 0;
        std::uint64_t seed = 1;
    };

    explicit FolderWriter(Options options) : m_options(std::move(options)) {}
    // Number of DICOM images written (junk and truncated files not counted), or -1 on failure.
    long long write();

private:
    std::string seriesDir(int index) const;
    bool writeJunk();
    bool writeTruncated(const std::string& validFile);

    Options m_options;
};

}  // namespace Dravelin::Tools
