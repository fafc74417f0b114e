#pragma once

#include "host/app/Algorithm.h"
#include "host/app/Properties.h"
#include "host/data/OwningDataList.h"
#include "host/dicom/Error.h"
#include "host/dicom/io/Compression.h"
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
// Reading: the location is a location string (files, folders with their sub-queries, pacs://
// and DICOMweb URLs, "##"-joined lists); the output holds one SharedImageSet per group of
// instances (see DicomLoader) and one DataGroup of point clouds per RT structure set.
// Writing: the input image set becomes the datasets of createDatasetsToWrite() (created on
// demand, and kept so that a caller may edit them first), written to the location: a pacs://
// URL, an existing folder or several datasets (one file each), otherwise one file.
// Problems land in caughtErrors(); status() is 0 when something was read, or everything written.
class DicomIoAlgorithm : public Algorithm
{
public:
    enum IoMode : int { Reading = 0, Writing = 1 };

    explicit DicomIoAlgorithm(int ioMode = Reading, std::shared_ptr<Dicom::DatasetCache> cache = nullptr);
    ~DicomIoAlgorithm() override;

    // The factory name, shown in file dialogs and menus.
    virtual QString name() const { return QStringLiteral("DICOM"); }
    int ioMode() const { return m_ioMode; }
    const std::string& location() const { return m_location; }
    void setLocation(const std::string& location) { m_location = location; }
    // File name extensions read: "dcm", "ima" and "" for files without one.
    std::vector<std::string> extensions() const { return {"dcm", "ima", ""}; }
    std::shared_ptr<Dicom::DatasetCache> cache() const { return m_cache; }
    const std::vector<Dicom::Error>& caughtErrors() const { return m_errors; }

    // Options a user may set before reading: "ignoreNonDicom" and "recursive" (for folder
    // locations that do not set them in their query).
    Properties userOptions(bool forReading, bool advanced) const;
    void configure(const Properties* properties) override;
    void configuration(Properties* properties) const override;

    void compute() override;
    OwningDataList takeOutput();

    // Status 8: the user cancelled (set by controllers).
    using Algorithm::setStatus;

    // Writing.
    void setInput(SharedImageSet* image) { m_input = image; }
    SharedImageSet* inputImage() const { return m_input; }
    Dicom::Compression compression() const { return m_compression; }
    void setCompression(Dicom::Compression compression) { m_compression = compression; }
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
    void addError(const Dicom::Error& error);

    int m_ioMode;
    std::string m_location;
    std::shared_ptr<Dicom::DatasetCache> m_cache;
    std::vector<Dicom::Error> m_errors;
    OwningDataList m_output;
    bool m_ignoreNonDicom = true;
    bool m_recursive = false;

    SharedImageSet* m_input = nullptr;
    Dicom::Compression m_compression = Dicom::Compression::ImplicitLittleEndian;
    int m_quality = 90;
    Dicom::IOD_Registry m_registry;
    std::vector<SharedImageSet*> m_referencedImages;
    std::vector<std::string> m_referencedFiles;
    std::vector<std::shared_ptr<DcmDataset>> m_datasets;
};

}  // namespace Dravelin
