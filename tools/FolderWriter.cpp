#include "tools/FolderWriter.h"

#include "tools/DatasetGenerator.h"
#include "tools/UidFactory.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace Dravelin::Tools {

namespace fs = std::filesystem;

namespace {

enum UidKind { StudyUid = 2, SeriesUid, InstanceUid };
const char kPrivateMarker[] = "Private payload";

std::string twoDigits(int n)
{
    return (n < 10 ? "0" : "") + std::to_string(n);
}

bool writeBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

std::string FolderWriter::seriesDir(int index) const
{
    // Spreads extra files over the series folders in order.
    const int perStudy = m_options.series, perPatient = m_options.studies * perStudy;
    const int total = m_options.patients * perPatient;
    index %= total;
    const int p = index / perPatient + 1, s = index % perPatient / perStudy + 1, r = index % perStudy + 1;
    return (fs::path(m_options.outDir) / ("p" + std::to_string(p)) / ("s" + std::to_string(s)) /
            ("r" + std::to_string(r)))
        .string();
}

long long FolderWriter::write()
{
    const Options& o = m_options;
    const UidFactory uids(o.seed);
    DatasetGenerator ct("CT", o.size, o.size);
    DatasetGenerator mr("MR", o.size, o.size);
    const double thickness[] = {1.0, 2.5};
    long long count = 0;
    std::string firstFile;

    for (int p = 1; p <= o.patients; ++p) {
        const std::string name = "Synthetic^Patient" + std::to_string(p);
        const std::string id = "GEN" + std::to_string(p);
        const std::string birth = std::to_string(1940 + p % 60) + "0101";
        const std::string sex = p % 2 ? "F" : "M";
        for (int s = 1; s <= o.studies; ++s) {
            const std::string studyUid = uids.uid(StudyUid, {p, s});
            const std::string date = "2023" + twoDigits(1 + s % 12) + twoDigits(1 + p % 28);
            const std::string time = twoDigits(8 + s % 10) + "3000";
            for (int r = 1; r <= o.series; ++r) {
                DatasetGenerator& g = r % 2 ? ct : mr;
                const double dz = thickness[r % 2];
                g.setPatient(name, id, sex, birth);
                g.setStudy(studyUid, std::to_string(s), date, time, "Study " + std::to_string(s));
                g.setSeries(uids.uid(SeriesUid, {p, s, r}), r, "Series " + std::to_string(r),
                            r % 5 == 0 ? "DERIVED\\SECONDARY" : "ORIGINAL\\PRIMARY\\AXIAL");
                g.setSpacing(250.0 / o.size, dz);
                const fs::path dir = fs::path(o.outDir) / ("p" + std::to_string(p)) / ("s" + std::to_string(s)) /
                                     ("r" + std::to_string(r));
                std::error_code ec;
                fs::create_directories(dir, ec);
                for (int n = 1; n <= o.images; ++n) {
                    g.setInstance(uids.uid(InstanceUid, {p, s, r, n}), n, {-125.0, -125.0, dz * (n - 1)});
                    const std::string path = (dir / ("img" + std::to_string(n) + ".dcm")).string();
                    if (!g.save(path))
                        return -1;
                    if (firstFile.empty())
                        firstFile = path;
                    ++count;
                }
            }
        }
    }
    if (!writeJunk() || (o.truncated > 0 && !writeTruncated(firstFile)))
        return -1;
    return count;
}

bool FolderWriter::writeJunk()
{
    std::mt19937_64 random(m_options.seed);
    for (int k = 1; k <= m_options.junk; ++k) {
        const fs::path dir = seriesDir(k - 1);
        std::error_code ec;
        fs::create_directories(dir, ec);
        const std::string stem = "junk" + std::to_string(k);
        bool ok = true;
        switch (k % 3) {
            case 1:
                ok = writeBytes(dir / (stem + ".txt"),
                                "Not a DICOM file.\nJust some notes, line " + std::to_string(k) + ".\n");
                break;
            case 2: {
                std::string bytes(4096, '\0');
                for (char& c : bytes)
                    c = static_cast<char>(random() & 0xFF);
                ok = writeBytes(dir / (stem + ".bin"), bytes);
                break;
            }
            default: ok = writeBytes(dir / (stem + ".dcm"), std::string()); break;
        }
        if (!ok)
            return false;
    }
    return true;
}

bool FolderWriter::writeTruncated(const std::string& validFile)
{
    std::ifstream in(validFile, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Cut in the middle of the private text: never at an element boundary, always before
    // the pixel data.
    const size_t marker = bytes.find(kPrivateMarker);
    if (marker == std::string::npos)
        return false;
    for (int t = 1; t <= m_options.truncated; ++t) {
        const size_t cut = marker + (t % 2 ? 5 : 11);
        if (!writeBytes(fs::path(seriesDir(t - 1)) / ("truncated" + std::to_string(t) + ".dcm"), bytes.substr(0, cut)))
            return false;
    }
    return true;
}

}  // namespace Dravelin::Tools
