#pragma once

#include <string>

namespace Dravelin::Tools {

// The small sample set shown on first use: two patients, a CT volume, MR series, one
// multi-frame file and one single image, named img1 ... imgN in one folder.
class SampleDataWriter
{
public:
    explicit SampleDataWriter(std::string outDir) : m_outDir(std::move(outDir)) {}
    // Number of files written, or -1 on failure.
    int write();

private:
    std::string nextPath();

    std::string m_outDir;
    int m_count = 0;
};

}  // namespace Dravelin::Tools
