// The volume reader on a folder of up to four files (the input split at "DRAVELIN-NEXT-FILE\n"):
// slices of mixed sizes, degenerate geometry, frame counts that lie, odd rescales and bit depths.
#include "fuzz/FuzzSetup.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/StructureCheck.h"
#include "host/dicom/io/DicomVolumeReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dravelinFuzzSetup();
    static const std::string folder = "/tmp/dravelin-fuzz-volume-" + std::to_string(::getpid());
    ::mkdir(folder.c_str(), 0700);
    static const char separator[] = "DRAVELIN-NEXT-FILE\n";
    const char* begin = reinterpret_cast<const char*>(data);
    const char* end = begin + size;
    Dravelin::Dicom::StructureLimits small;
    small.maximumInflatedBytes = 2 << 20;
    int files = 0;
    while (files < 4) {
        const char* next = std::search(begin, end, separator, separator + sizeof separator - 1);
        // Deflated data may inflate to 512 MiB in the reader: bounded, but minutes here.
        if (Dravelin::Dicom::StructureCheck::checkBytes(begin, std::size_t(next - begin), false, small).inflatesTooFar)
            break;
        const std::string path = folder + "/slice" + std::to_string(files++) + ".dcm";
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(begin, 1, std::size_t(next - begin), f);
            std::fclose(f);
        }
        if (next == end)
            break;
        begin = next + sizeof separator - 1;
    }
    if (files > 0) {
        Dravelin::Dicom::DicomVolumeReader reader(std::make_shared<Dravelin::Dicom::DatasetCache>(0));
        reader.setVolumeLimit(std::size_t(64) << 20);
        reader.read(folder, nullptr);
    }
    for (int k = 0; k < 4; ++k)
        std::remove((folder + "/slice" + std::to_string(k) + ".dcm").c_str());
    return 0;
}
