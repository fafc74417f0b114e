// A file loaded through the dataset cache, header only and complete, and the preview of it.
#include "fuzz/FuzzSetup.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/StructureCheck.h"
#include "host/dicom/Utils.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dravelinFuzzSetup();
    // Deflated data may inflate to 512 MiB, which the cache accepts and DCMTK then reads: bounded
    // work, but minutes under the sanitizers. Keep to inputs that inflate to little.
    Dravelin::Dicom::StructureLimits small;
    small.maximumInflatedBytes = 2 << 20;
    const auto check =
        Dravelin::Dicom::StructureCheck::checkBytes(reinterpret_cast<const char*>(data), size, false, small);
    if (check.problem.find("inflates") != std::string::npos)
        return 0;
    static const std::string path = "/tmp/dravelin-fuzz-cache-" + std::to_string(::getpid()) + ".dcm";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    Dravelin::Dicom::DatasetCache cache(2);
    cache.loadFromFile(path, nullptr, false);
    if (const auto complete = cache.loadFromFile(path, nullptr, true))
        Dravelin::Dicom::Utils::generatePreview(*complete, true, std::nullopt);
    return 0;
}
