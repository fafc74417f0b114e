#pragma once

#include "host/core/Progress.h"
#include "host/dicom/Error.h"
#include "host/dicom/io/Compression.h"
#include "host/dicom/io/DicomDatasetFactory.h"
#include "host/dicom/io/PixelPacking.h"

#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin::Dicom {

// Writes datasets with one of the ten transfer syntaxes: to a file, to a folder (one file per
// dataset) or to a PACS (C-STORE). The datasets are not changed: each is fitted to the transfer
// syntax (PixelPacking) and encoded as a copy, so a failed write may be tried again with another
// compression. A file appears whole or not at all: it is written under a temporary name in its
// folder and renamed when complete; a failed write removes what it wrote and the folders it
// created.
//
// The lossy compressions keep every value within lossyBoundSteps(): lossy JPEG and JPEG 2000
// frames are decoded again and checked, and coded again at a higher quality when they exceed it.
class DicomWriter
{
public:
    explicit DicomWriter(Compression compression = Compression::ExplicitLittleEndian, int quality = 90);

    Compression compression() const { return m_compression; }
    int quality() const { return m_quality; }
    // The transfer syntax UID that written files carry.
    std::string transferSyntaxUid() const;

    // Fits and encodes the pixel data of the dataset for the transfer syntax, in place. False
    // with `error` set when it cannot be written without changing values the compression must
    // keep, or the codec refuses the image. `seriesRange`: the values quantised samples span
    // (the dataset's own when null).
    bool encode(DcmDataset& dataset, Error& error, const PixelPacking::ValueRange* seriesRange = nullptr) const;

    bool writeFile(const DcmDataset& dataset, const std::string& path, Error& error) const;
    // Files "IMG0001.dcm", "IMG0002.dcm", ... (the folder is created when missing). Stops at
    // the first failure. With `pixels`, the datasets lack their samples: each copy gets them
    // from `pixels` just before it is encoded, and lets them go once written.
    bool writeFolder(const std::vector<std::shared_ptr<DcmDataset>>& datasets, const std::string& folder,
                     Progress* progress, Error& error, const PixelSource& pixels = nullptr) const;
    // A pacs:// URL as DicomPacsConfiguration generates it.
    bool store(const std::vector<std::shared_ptr<DcmDataset>>& datasets, const std::string& url, Error& error) const;

    static void registerCodecs();

    // Encodes native pixel data as lossless JPEG 2000 in place, the stored values as they are (no
    // fitting: signed samples stay signed). False with `error` set when the codec refuses.
    static bool encodeLosslessJpeg2000(DcmDataset& dataset, Error& error);

private:
    // `pixels`: those of dataset `index` are added to the copy.
    bool saveCopy(const DcmDataset& dataset, const std::string& path, Error& error,
                  const PixelPacking::ValueRange* seriesRange, const PixelSource& pixels = nullptr,
                  std::size_t index = 0) const;
    // The values of all datasets, when the compression quantises.
    bool seriesRange(const std::vector<std::shared_ptr<DcmDataset>>& datasets, PixelPacking::ValueRange& range,
                     Error& error, const PixelSource& pixels = nullptr) const;

    Compression m_compression;
    int m_quality;
};

}  // namespace Dravelin::Dicom
