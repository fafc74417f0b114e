// The header parser as a scan uses it: the structure check first, then the parse of the
// file's first bytes, whole or as the start of a longer file.
#include "fuzz/FuzzSetup.h"
#include "host/dicom/HeaderParser.h"
#include "host/dicom/StructureCheck.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dravelinFuzzSetup();
    const char* bytes = reinterpret_cast<const char*>(data);
    if (!Dravelin::Dicom::StructureCheck::checkBytes(bytes, size, true).ok())
        return 0;
    for (const bool wholeFile : {true, false}) {
        DcmDataset dataset;
        Dravelin::Dicom::HeaderParser::parse(bytes, size, wholeFile, dataset);
    }
    return 0;
}
