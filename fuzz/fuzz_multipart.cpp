// WADO-RS multipart answers: the first line is the Content-Type header, the rest the body.
// Every part goes through the check a retrieval makes before parsing it.
#include "fuzz/FuzzSetup.h"
#include "host/dicom/StructureCheck.h"
#include "host/dicom/dicomweb/WadoRetriever.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dravelinFuzzSetup();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::string contentType = input.substr(0, newline);
    const std::string body = newline == std::string::npos ? std::string() : input.substr(newline + 1);
    bool complete = false;
    for (const std::string& part : Dravelin::Dicom::WadoRetriever::splitMultipart(body, contentType, &complete))
        Dravelin::Dicom::StructureCheck::checkBytes(part.data(), part.size(), false);
    return 0;
}
