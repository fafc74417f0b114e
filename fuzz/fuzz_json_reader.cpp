// DICOM JSON answers of a DICOMweb server.
#include "fuzz/FuzzSetup.h"
#include "host/dicom/dicomweb/DicomJsonReader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dravelinFuzzSetup();
    int skipped = 0;
    Dravelin::Dicom::DicomJsonReader::readArray(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size)), &skipped);
    return 0;
}
