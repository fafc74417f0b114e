#pragma once

#include "host/dicom/StructureCheck.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>

#include <cstddef>
#include <cstdint>

// Parses a whole file from memory, after the structure check the readers make; deflated data
// may inflate to 2 MiB only (the readers allow 512, which costs minutes under the sanitizers).
inline bool dravelinFuzzParse(const std::uint8_t* data, std::size_t size, DcmFileFormat& file)
{
    Dravelin::Dicom::StructureLimits small;
    small.maximumInflatedBytes = 2 << 20;
    if (!Dravelin::Dicom::StructureCheck::checkBytes(reinterpret_cast<const char*>(data), size, false, small).ok())
        return false;
    DcmInputBufferStream stream;
    stream.setBuffer(data, static_cast<offile_off_t>(size));
    stream.setEos();
    file.transferInit();
    const OFCondition status = file.read(stream, EXS_Unknown, EGL_noChange, DCM_MaxReadLength);
    file.transferEnd();
    stream.releaseBuffer();
    return status.good();
}
