// DICOMDIR files: the reader and a walk over the hierarchy it links.
#include "fuzz/FuzzSetup.h"
#include "host/dicom/DicomDirReader.h"
#include "host/dicom/RawHeader.h"

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
    Dravelin::Dicom::RawHeader header({{0x00041500u, {'C', 'S'}}, {0x00100010u, {'P', 'N'}}});
    std::vector<std::size_t> pending = reader.roots();
    while (!pending.empty()) {
        const std::size_t index = pending.back();
        pending.pop_back();
        if (!reader.parseRecord(index, header))
            if (DcmItem* item = reader.item(index)) {
                OFString fileId;
                item->findAndGetOFStringArray(DCM_ReferencedFileID, fileId);
            }
        const auto& record = reader.records().at(index);
        pending.insert(pending.end(), record.children.begin(), record.children.end());
    }
    return 0;
}
