#pragma once

#include "host/core/Progress.h"
#include "host/dicom/Error.h"
#include "host/dicom/io/Compression.h"

#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin::Dicom {

// Writes datasets with one of the ten transfer syntaxes: to a file, to a folder (one file per
// dataset) or to a PACS (C-STORE). A file appears whole or not at all: it is written under a
// temporary name in its folder and renamed when complete.
class DicomWriter
{
public:
    explicit DicomWriter(Compression compression = Compression::ExplicitLittleEndian, int quality = 90);

    Compression compression() const { return m_compression; }
    int quality() const { return m_quality; }
    // The transfer syntax UID that written files carry.
    std::string transferSyntaxUid() const;

    // Encodes the pixel data of the dataset for the transfer syntax (in place). False with
    // `error` set when the codec refuses the image.
    bool encode(DcmDataset& dataset, Error& error) const;

    bool writeFile(DcmDataset& dataset, const std::string& path, Error& error) const;
    // Files "IMG0001.dcm", "IMG0002.dcm", ... (the folder is created when missing). Stops at
    // the first failure.
    bool writeFolder(const std::vector<std::shared_ptr<DcmDataset>>& datasets, const std::string& folder,
                     Progress* progress, Error& error) const;
    // A pacs:// URL as DicomPacsConfiguration generates it.
    bool store(const std::vector<std::shared_ptr<DcmDataset>>& datasets, const std::string& url, Error& error) const;

    static void registerCodecs();

private:
    bool encodeJpeg2000(DcmDataset& dataset, Error& error) const;

    Compression m_compression;
    int m_quality;
};

}  // namespace Dravelin::Dicom
