#pragma once

#include <cstddef>

class DcmDataset;

namespace Dravelin::Dicom {

// Reads the header of a DICOM file held in memory, up to the pixel data, into a dataset.
//
// Only the common encoding is handled here: a file meta group followed by a data set in
// explicit VR little endian. Element headers are decoded directly (no data dictionary lookup
// per element, which dominates DCMTK's generic parser on small headers); values and sequences
// are still read by DCMTK, so the dataset holds the same elements with the same values as
// DcmFileFormat::readUntilTag would give.
//
// Anything unusual (another transfer syntax, no meta group, UN or non-standard VRs, undefined
// lengths outside sequences, delimiters at the top level, lengths past the end of a complete
// file, read errors) returns Unsupported with the dataset in an unspecified state: clear it
// and let DCMTK parse the same bytes.
class HeaderParser
{
public:
    enum class Result {
        Parsed,         // the dataset holds every element before (7FE0,0010)
        NeedsMoreData,  // the header continues past `size` bytes of a longer file
        Unsupported,    // see above
    };

    // `data` holds the first `size` bytes of the file; `wholeFile` says whether that is all of it.
    static Result parse(const char* data, size_t size, bool wholeFile, DcmDataset& dataset);
};

}  // namespace Dravelin::Dicom
