#pragma once

#include <QString>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmdata/dctypes.h>

#include <string>

class DcmFileFormat;

namespace Dravelin::Dicom {

// Writes DICOM files whole or not at all.
//
// The file is written under a temporary name of fixed length in the target's folder (so a long
// target name never makes it pass the file system's limit), every write and the close are
// checked, the data reaches the disk (fsync) before the temporary is renamed to the target, and
// on any failure the temporary is removed and the target is left as it was. A replaced file's
// permission bits are kept, and its owner and group where the user may set them. A full disk or
// a file size limit is therefore a reported failure, never a truncated file at the target path.
class DicomFileWriter
{
public:
    // `xfer` EXS_Unknown keeps the dataset's own transfer syntax. False (with `error` set to the
    // reason) on failure. Never throws.
    static bool save(DcmFileFormat& file, const QString& target, E_TransferSyntax xfer, E_FileWriteMode mode,
                     std::string* error);

    // True for the names of the temporaries above: ".dravelin-" + 12 characters + ".part".
    static bool isTemporaryName(const QString& fileName);

    // Removes temporaries that an interrupted run left anywhere below `folder` and returns how
    // many there were.
    static int removeStaleTemporaries(const QString& folder);
};

}  // namespace Dravelin::Dicom
