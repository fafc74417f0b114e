// DICOMDIR files: the reader and a walk over the hierarchy it links.
#include "fuzz/FuzzSetup.h"
#include "host/dicom/DicomDirReader.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dravelinFuzzSetup();
    Dravelin::Dicom::DicomDirReader reader;
    if (!reader.readBytes(reinterpret_cast<const char*>(data), size))
        return 0;
    reader.convertToUtf8();
    std::vector<std::size_t> pending = reader.roots();
    while (!pending.empty()) {
        const auto& record = reader.records().at(pending.back());
        pending.pop_back();
        OFString fileId;
        record.item->findAndGetOFStringArray(DCM_ReferencedFileID, fileId);
        pending.insert(pending.end(), record.children.begin(), record.children.end());
    }
    return 0;
}
