#include "host/dicom/io/DicomIoAlgorithm.h"

#include "host/dicom/WindowPresets.h"

#include "host/core/LocationString.h"
#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/data/DataGroup.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/components/TagStoreDataComponent.h"
#include "host/dicom/io/DicomDatasetFactory.h"
#include "host/dicom/io/DicomVolumeReader.h"
#include "host/dicom/io/DicomWriter.h"
#include "host/dicom/io/RTStructureReader.h"
#include "host/dicom/io/SharedImageConversion.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace Dravelin {

namespace {

std::pair<std::string, std::string> sopOf(DcmDataset& dataset)
{
    OFString sopClass, sopInstance;
    dataset.findAndGetOFString(DCM_SOPClassUID, sopClass);
    dataset.findAndGetOFString(DCM_SOPInstanceUID, sopInstance);
    return {sopClass.c_str(), sopInstance.c_str()};
}

// The 1st to 99th percentile of the real values of the set's first image: a few extreme voxels
// (metal, padding) do not flatten the contrast as they do in the full range.
void setAutomaticWindow(SharedImageSet& set)
{
    if (const SharedImage* image = set.get(0))
        if (const auto window = WindowPresets::automatic(*image))
            set.setWindow(window->center, window->width);
}

}  // namespace

DicomIoAlgorithm::DicomIoAlgorithm(int ioMode, std::shared_ptr<Dicom::DatasetCache> cache) : IoAlgorithm(ioMode)
{
    const DicomPluginSettings settings;
    m_cache = cache ? std::move(cache) : std::make_shared<Dicom::DatasetCache>(settings.datasetCacheCapacity.value());
    // Each mode shows the user only its own options.
    for (ParameterBase* p : std::initializer_list<ParameterBase*>{&m_ignoreNonDicom, &m_recursive})
        p->setAttribute("hidden", ioMode == Read ? "false" : "true");
    for (ParameterBase* p : std::initializer_list<ParameterBase*>{&m_compression, &m_quality})
        p->setAttribute("hidden", "true");
    if (ioMode == Read) {
        m_splitIrregularSeries = settings.splitsIrregularSeries();
        m_ignoreNonDicom = settings.ignoreNonDicomFiles.value();
        m_volumeLimit = settings.largestVolumeBytes();
        m_initialWindow = settings.initialWindow.value();
    } else {
        m_compression = static_cast<int>(settings.exportCompressionValue());
        m_quality = std::clamp(settings.exportQuality.value(), 1, 100);
    }
    m_ignoreNonDicom.setAttribute("label", "Ignore files without a DICOM header");
    m_recursive.setAttribute("label", "Include sub-folders");
}

DicomIoAlgorithm::~DicomIoAlgorithm() = default;

QStringList DicomIoAlgorithm::extensions() const
{
    return {QStringLiteral("dcm"), QStringLiteral("ima"), QString()};
}

SharedImageSet* DicomIoAlgorithm::inputImage() const
{
    return writeInput().getImage();
}

void DicomIoAlgorithm::setCompressionQuality(int quality)
{
    m_quality = std::clamp(quality, 1, 100);
}

void DicomIoAlgorithm::addError(const Dicom::Error& error)
{
    m_errors.push_back(error);
}

void DicomIoAlgorithm::compute()
{
    m_errors.clear();
    try {
        if (ioMode() == Write)
            write();
        else
            read();
    } catch (const std::exception& e) {
        addError(Dicom::Error(Dicom::Error::Unknown, Dicom::Error::Fatal, e.what()));
        setStatus(Error);
    }
}

OwningDataList DicomIoAlgorithm::takeOutput()
{
    return std::move(m_output);
}

void DicomIoAlgorithm::read()
{
    m_output.clear();
    // Folder locations take the user's options unless their query sets them.
    std::vector<std::string> locations;
    for (const std::string& text : Filesystem::splitLocationString(QFile::encodeName(location()).toStdString())) {
        Filesystem::Url url(text);
        if (url.isLocalFile() && QFileInfo(QFile::decodeName(url.localFilePath().c_str())).isDir()) {
            if (!url.hasSubquery("ignoreNonDicom"))
                url.appendSubquery("ignoreNonDicom", m_ignoreNonDicom ? "1" : "0");
            if (!url.hasSubquery("recursive"))
                url.appendSubquery("recursive", m_recursive ? "1" : "0");
            locations.push_back(url.string(Filesystem::Url::LoaderEncoded));
        } else {
            locations.push_back(text);
        }
    }
    Dicom::DicomVolumeReader reader(m_cache);
    if (m_splitIrregularSeries)
        reader.setIrregularSpacingPolicy(Dicom::DicomVolumeReader::IrregularSpacingPolicy::SplitIntoRegularParts);
    reader.setVolumeLimit(m_volumeLimit);
    auto sets = reader.read(Filesystem::joinLocationString(locations), progress());
    for (const Dicom::Error& e : reader.errors())
        addError(e);

    const QString readerText = QStringLiteral("DICOM reader (") + readerKind() + ")";
    for (auto& loaded : sets) {
        // The data model holds 8 bits per colour sample: deeper colour loses precision, and says so.
        for (const Dicom::PixelVolume& volume : loaded.volumes)
            if (volume.channels == 3 && volume.type != Dicom::VoxelType::UInt8) {
                const std::string text = "'" + loaded.location + "': colour with " +
                                         std::to_string(8 * Dicom::voxelSize(volume.type)) +
                                         " bits per sample is reduced to 8 bits per sample";
                addError(Dicom::Error(Dicom::Error::NotSupported, Dicom::Error::Warning, text));
                Log::log(3, "DICOM", text, __FILE__, __LINE__);
                break;
            }
        std::unique_ptr<SharedImageSet> set = Dicom::toSharedImageSet(std::move(loaded), readerText);
        if (set && m_initialWindow == QLatin1String("Full Range"))
            set->setWindow(0.0, 0.0);  // viewers then show the value range
        else if (set && m_initialWindow == QLatin1String("Automatic"))
            setAutomaticWindow(*set);
        m_output.add(std::move(set));
    }
    for (auto& group : Dicom::RTStructureReader::read(reader.nonImageDatasets(), m_errors))
        m_output.add(std::move(group));
    setStatus(m_output.empty() ? Error : Success);
}

std::vector<std::shared_ptr<DcmDataset>> DicomIoAlgorithm::createDatasetsToWrite()
{
    m_datasets = createDatasets(nullptr);
    return m_datasets;
}

std::vector<std::shared_ptr<DcmDataset>> DicomIoAlgorithm::createDatasets(Dicom::PixelSource* pixels)
{
    SharedImageSet* input = inputImage();
    if (!input) {
        addError(Dicom::Error(Dicom::Error::MissingValue, Dicom::Error::Fatal, "No image set to write"));
        return {};
    }
    std::vector<std::pair<std::string, std::string>> referenced;
    for (const SharedImageSet* image : m_referencedImages)
        if (const auto* store = image ? image->getComponent<Dicom::TagStoreDataComponent>() : nullptr)
            for (const auto& dataset : store->extractDatasets())
                if (dataset)
                    referenced.push_back(sopOf(*dataset));
    for (const std::string& file : m_referencedFiles)
        if (auto dataset = m_cache->loadFromFile(file, nullptr, false))
            referenced.push_back(sopOf(*dataset));
    referenced.erase(std::unique(referenced.begin(), referenced.end()), referenced.end());

    Dicom::DicomDatasetFactory factory(&m_registry);
    factory.setReferencedInstances(std::move(referenced));
    Dicom::Error error;
    auto datasets = factory.create(*input, error, pixels);
    if (datasets.empty())
        addError(error);
    return datasets;
}

void DicomIoAlgorithm::write()
{
    // Datasets the caller created (and may have edited) are written as they are. Otherwise the
    // samples of each instance are made only while it is written, so that a series is not held
    // a second time as datasets.
    std::vector<std::shared_ptr<DcmDataset>> datasets = m_datasets;
    Dicom::PixelSource pixels;
    if (datasets.empty())
        datasets = createDatasets(&pixels);
    if (datasets.empty()) {
        setStatus(InvalidInput);
        return;
    }
    const Dicom::DicomWriter writer(compression(), m_quality);
    const std::string target = location().toStdString();
    const Filesystem::Url url(target);
    Dicom::Error error;
    bool ok = false;
    // Only a folder is written dataset by dataset; the other targets take them whole.
    auto complete = [&] {
        if (pixels)
            for (std::size_t i = 0; i < datasets.size(); ++i)
                pixels(i, *datasets[i]);
        pixels = nullptr;
    };
    if (url.scheme() == DicomPacsConfiguration::Scheme) {
        complete();
        ok = writer.store(datasets, target, error);
    } else {
        const std::string path = url.isLocalFile() ? url.localFilePath() : target;
        if (path.empty()) {
            error = Dicom::Error(Dicom::Error::MissingValue, Dicom::Error::Fatal, "No location to write to");
        } else if (datasets.size() == 1 && !QFileInfo(QFile::decodeName(path.c_str())).isDir()) {
            complete();
            ok = writer.writeFile(*datasets.front(), path, error);
        } else {
            ok = writer.writeFolder(datasets, path, progress(), error, pixels);
        }
    }
    if (!ok) {
        addError(error);
        Log::log(4, "DICOM", error.message, __FILE__, __LINE__);
    }
    // A further run after success starts from the image again (new instance UIDs). After a
    // failure the datasets are kept, with the caller's edits, for another destination or
    // compression: the writer encodes copies.
    if (ok) {
        m_datasets.clear();
    } else if (m_datasets.empty()) {
        complete();
        m_datasets = std::move(datasets);
    }
    setStatus(ok ? Success : WriteFailed);
}

}  // namespace Dravelin
