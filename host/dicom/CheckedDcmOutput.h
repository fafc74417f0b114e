#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <cstddef>
#include <functional>
#include <string>

namespace Dravelin::Dicom {

// DCMTK's output of a file, in blocks handed to a sink that checks every write: DCMTK's own file
// stream looks neither at what its writes nor its close return.
class CheckedDcmOutput
{
public:
    // Writes `size` bytes; returns the reason of a failure, empty when they were all written.
    using Sink = std::function<std::string(const char* data, size_t size)>;

    // The reason the file could not be written whole (the sink's first failure before the
    // encoder's), empty when every byte reached the sink.
    static std::string write(DcmFileFormat& file, E_TransferSyntax xfer, E_EncodingType encoding, E_FileWriteMode mode,
                             const Sink& sink);
};

}  // namespace Dravelin::Dicom
