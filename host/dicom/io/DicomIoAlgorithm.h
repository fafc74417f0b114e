#pragma once

#include "host/app/IoAlgorithm.h"
#include "host/properties/Parameter.h"
#include "host/data/OwningDataList.h"
#include "host/dicom/Error.h"
#include "host/dicom/io/Compression.h"
#include "host/dicom/io/DicomDatasetFactory.h"
#include "host/dicom/io/IOD_Registry.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin {

class SharedImageSet;

namespace Dicom {
class DatasetCache;
}

// Reads DICOM data into image sets (IO mode 0) or writes an image set as DICOM (IO mode 1).
//
// Reading: the location (the parameter "location") is a location string (files, folders with their sub-queries, pacs://
// and DICOMweb URLs, "##"-joined lists); the output holds one SharedImageSet per group of
// instances (see DicomLoader) and one DataGroup of point clouds per RT structure set.
// Writing: the input image set becomes the datasets of createDatasetsToWrite() (created on
// demand, and kept so that a caller may edit them first), written to the location: a pacs://
// URL, an existing folder or several datasets (one file each), otherwise one file.
// Problems land in caughtErrors(); status() is 0 when something was read, or everything written.
class DicomIoAlgorithm : public IoAlgorithm
{
public:
    // Starts from the DICOM settings: a reader from their cache capacity (for a cache of its
    // own), non-DICOM file choice and initial window, a writer from their export compression
    // and quality.
    explicit DicomIoAlgorithm(int ioMode = Read, std::shared_ptr<Dicom::DatasetCache> cache = nullptr);
    ~DicomIoAlgorithm() override;

    // Which of the DICOM readers this is, named in the data-source component of what it reads.
    virtual QString readerKind() const { return QStringLiteral("DICOM"); }
    // "dcm", "ima" and "" for files without one.
    QStringList extensions() const override;
    std::shared_ptr<Dicom::DatasetCache> cache() const { return m_cache; }
    // Reading: a series of unevenly spaced slices becomes one image set per run of equal steps
    // instead of being resampled onto a regular grid. From the DICOM settings at creation.
    bool splitsIrregularSeries() const { return m_splitIrregularSeries; }
    void setSplitIrregularSeries(bool split) { m_splitIrregularSeries = split; }
    // Reading: the most bytes one decoded volume may take. From the DICOM settings at creation.
    std::size_t volumeLimit() const { return m_volumeLimit; }
    void setVolumeLimit(std::size_t bytes) { m_volumeLimit = bytes; }
    const std::vector<Dicom::Error>& caughtErrors() const { return m_errors; }

    void compute() override;
    OwningDataList takeOutput() override;

    // Writing: the image set written is the first of writeInput().
    SharedImageSet* inputImage() const;
    Dicom::Compression compression() const { return static_cast<Dicom::Compression>(m_compression.value()); }
    void setCompression(Dicom::Compression compression) { m_compression = static_cast<int>(compression); }
    int compressionQuality() const { return m_quality; }
    void setCompressionQuality(int quality);
    Dicom::IOD_Registry& registry() { return m_registry; }
    const std::vector<SharedImageSet*>& referencedImages() const { return m_referencedImages; }
    void setReferencedImages(std::vector<SharedImageSet*> images) { m_referencedImages = std::move(images); }
    const std::vector<std::string>& referencedFiles() const { return m_referencedFiles; }
    void setReferencedFiles(std::vector<std::string> files) { m_referencedFiles = std::move(files); }
    std::vector<std::shared_ptr<DcmDataset>> createDatasetsToWrite();

private:
    void read();
    void write();
    // The datasets of the input image; with `pixels`, without their samples (see
    // DicomDatasetFactory::create).
    std::vector<std::shared_ptr<DcmDataset>> createDatasets(Dicom::PixelSource* pixels);
    void addError(const Dicom::Error& error);

    std::shared_ptr<Dicom::DatasetCache> m_cache;
    std::vector<Dicom::Error> m_errors;
    OwningDataList m_output;
    // Options of folder locations whose query does not set them (reading).
    Parameter<bool> m_ignoreNonDicom{"ignoreNonDicom", true, this};
    Parameter<bool> m_recursive{"recursive", false, this};
    // Chosen in the export dialog (writing).
    Parameter<int> m_compression{"compression", 0, this};
    Parameter<int> m_quality{"quality", 90, this};

    bool m_splitIrregularSeries = false;
    std::size_t m_volumeLimit = 0;
    QString m_initialWindow;  // the DICOM settings' choice, read at creation

    Dicom::IOD_Registry m_registry;
    std::vector<SharedImageSet*> m_referencedImages;
    std::vector<std::string> m_referencedFiles;
    std::vector<std::shared_ptr<DcmDataset>> m_datasets;
};

}  // namespace Dravelin
