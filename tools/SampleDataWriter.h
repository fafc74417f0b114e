#pragma once

#include <string>

namespace Dravelin::Tools {

class DatasetGenerator;
class UidFactory;

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
    // The slices of series 1 of study 1 of `patient`, along z from 0.
    bool writeVolume(DatasetGenerator& generator, const UidFactory& uids, int patient, int slices, double corner,
                     double spacing);

    std::string m_outDir;
    int m_count = 0;
};

}  // namespace Dravelin::Tools
