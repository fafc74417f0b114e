#include "host/dicom/io/SharedImageConversion.h"

#include "host/core/Url.h"
#include "host/data/DataSourceComponent.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/Element.h"
#include "host/dicom/components/ImageInfoDataComponent.h"
#include "host/dicom/components/IrregularSpacingDataComponent.h"
#include "host/dicom/components/OverlayDataComponent.h"
#include "host/dicom/components/TagStoreDataComponent.h"
#include "host/dicom/io/DicomVolumeReader.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace Dravelin::Dicom {

namespace {

template <typename From, typename To>
std::vector<std::uint8_t> convertSamples(const PixelVolume& v, double scale = 1.0)
{
    const std::size_t n = v.sampleCount();
    std::vector<std::uint8_t> bytes(n * sizeof(To));
    const From* in = reinterpret_cast<const From*>(v.data());
    To* out = reinterpret_cast<To*>(bytes.data());
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<To>(static_cast<double>(in[i]) * scale);
    return bytes;
}

}  // namespace

std::unique_ptr<SharedImage> toSharedImage(PixelVolume&& v)
{
    PixelType type = PixelType::UInt8;
    std::vector<std::uint8_t> bytes;
    if (v.channels == 3) {
        type = PixelType::RGB;
        if (v.type == VoxelType::UInt16)
            bytes = convertSamples<std::uint16_t, std::uint8_t>(v, 1.0 / 257.0);
        else if (v.type == VoxelType::UInt32)
            bytes = convertSamples<std::uint32_t, std::uint8_t>(v, 1.0 / 16843009.0);
        else
            bytes = v.takeData();
    } else {
        switch (v.type) {
            case VoxelType::UInt8: type = PixelType::UInt8; break;
            case VoxelType::Int8:
                type = PixelType::Int16;
                bytes = convertSamples<std::int8_t, std::int16_t>(v);
                break;
            case VoxelType::UInt16: type = PixelType::UInt16; break;
            case VoxelType::Int16: type = PixelType::Int16; break;
            case VoxelType::Int32: type = PixelType::Int32; break;
            case VoxelType::Float: type = PixelType::Float; break;
            case VoxelType::UInt32: {
                const std::uint32_t* p = reinterpret_cast<const std::uint32_t*>(v.data());
                std::uint32_t largest = 0;
                for (std::size_t i = 0; i < v.sampleCount(); ++i)
                    largest = std::max(largest, p[i]);
                if (largest <= 2147483647u) {
                    type = PixelType::Int32;  // same bits
                } else {
                    type = PixelType::Float;
                    bytes = convertSamples<std::uint32_t, float>(v);
                }
                break;
            }
        }
        if (bytes.empty())
            bytes = v.takeData();
    }
    auto image = std::make_unique<SharedImage>(type, v.width, v.height, v.slices, std::move(bytes));
    Eigen::Matrix3d rotation;
    Eigen::Vector3d translation;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            rotation(r, c) = v.imageToWorld[std::size_t(r * 4 + c)];
        translation[r] = v.imageToWorld[std::size_t(r * 4 + 3)];
    }
    // The data model keeps spacing apart from the directions.
    for (int c = 0; c < 3; ++c) {
        const double length = rotation.col(c).norm();
        if (length > 1e-12)
            rotation.col(c) /= length;
    }
    Eigen::Affine3d matrix = Eigen::Affine3d::Identity();
    matrix.linear() = rotation;
    matrix.translation() = translation;
    image->setImageToWorld(matrix);
    image->setSpacing(Eigen::Vector3d(v.spacing[0], v.spacing[1], v.spacing[2]));
    image->setRescale(v.slope, v.intercept);
    return image;
}

VolumeStatistics imageStatistics(const SharedImage& image)
{
    const std::size_t n = image.voxelCount() * std::size_t(image.channels());
    return dispatchPixelType(image.pixelType(), [&](auto zero) {
        using T = decltype(zero);
        return statisticsOf(static_cast<const T*>(image.data()), n, image.rescaleSlope(), image.rescaleIntercept());
    });
}

PixelVolume toPixelVolume(const SharedImage& image)
{
    VoxelType type = VoxelType::UInt8;
    switch (image.pixelType()) {
        case PixelType::UInt8:
        case PixelType::RGB: type = VoxelType::UInt8; break;
        case PixelType::Int16: type = VoxelType::Int16; break;
        case PixelType::UInt16: type = VoxelType::UInt16; break;
        case PixelType::Int32: type = VoxelType::Int32; break;
        case PixelType::Float: type = VoxelType::Float; break;
    }
    PixelVolume v(image.width(), image.height(), image.slices(), image.channels(), type);
    std::memcpy(v.data(), image.data(), v.byteSize());
    v.slope = image.rescaleSlope();
    v.intercept = image.rescaleIntercept();
    v.spacing = {image.spacing().x(), image.spacing().y(), image.spacing().z()};
    const Eigen::Affine3d m = image.voxelToWorld();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            v.imageToWorld[std::size_t(r * 4 + c)] = m.matrix()(r, c);
    return v;
}

std::unique_ptr<SharedImageSet> toSharedImageSet(LoadedImageSet&& loaded, const QString& reader)
{
    auto set = std::make_unique<SharedImageSet>();
    std::string modality;
    std::vector<double> centers, widths;
    for (PixelVolume& v : loaded.volumes) {
        if (modality.empty())
            modality = v.modality;
        if (centers.empty()) {
            centers = v.windowCenters;
            widths = v.windowWidths;
        }
        set->add(toSharedImage(std::move(v)));
    }
    loaded.volumes.clear();
    if (!centers.empty() && !widths.empty())
        set->setWindow(centers.front(), widths.front());
    set->setModality(Data::modalityFromDicom(QString::fromStdString(modality)));

    // Named as a user tells series apart: patient, then modality and description
    // ("Doe Jane — CT Head axial 2.5mm"); the file name stands in for a missing description.
    QString patient, description;
    if (!loaded.datasets.empty() && loaded.datasets.front()) {
        DcmDataset& first = *loaded.datasets.front();
        const auto text = [&](const DcmTagKey& tag) {
            return QString::fromStdString(
                       Element<std::string>(first, DcmTag(tag), ElementBase::Optional, true).value(std::string()))
                .simplified();
        };
        patient = text(DCM_PatientName).replace(QLatin1Char('^'), QLatin1Char(' ')).simplified();
        description = text(DCM_SeriesDescription);
    }
    const QString location = QString::fromStdString(loaded.location);
    if (description.isEmpty()) {
        const Filesystem::Url url(loaded.location);
        description = QFileInfo(url.isLocalFile() ? QFile::decodeName(url.localFilePath().c_str())
                                                  : QString::fromStdString(url.path()))
                          .fileName();
    }
    QString name = QString::fromStdString(modality).simplified();
    if (!description.isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(" ")) + description;
    if (name.isEmpty())
        name = QStringLiteral("DICOM");
    if (!patient.isEmpty())
        name = patient + QStringLiteral(" \u2014 ") + name;
    if (loaded.irregularSpacing && loaded.irregularSpacing->parts > 1)
        name +=
            QStringLiteral(" (part %1 of %2)").arg(loaded.irregularSpacing->part).arg(loaded.irregularSpacing->parts);
    set->setName(name);
    set->ensureProperties().setParam(QStringLiteral("filename"), location);
    // Overlays of a multi-frame dataset count from its first frame; those of single-frame
    // datasets belong to the frame that dataset stands for.
    auto overlays = std::make_unique<OverlayDataComponent>();
    const DcmDataset* previous = nullptr;
    for (std::size_t k = 0; k < loaded.datasets.size(); ++k) {
        DcmDataset* dataset = loaded.datasets[k].get();
        if (!dataset || dataset == previous)
            continue;
        previous = dataset;
        for (auto& overlay : OverlayDataComponent::read(*dataset)) {
            overlay.firstFrame += static_cast<int>(k);
            overlays->overlays.push_back(std::move(overlay));
        }
    }
    if (!overlays->overlays.empty())
        set->addComponent(std::move(overlays));
    set->addComponent(std::make_unique<TagStoreDataComponent>(std::move(loaded.datasets)));
    set->addComponent(std::make_unique<ImageInfoDataComponent>(QString::fromStdString(loaded.seriesInstanceUid),
                                                               QString::fromStdString(loaded.frameOfReferenceUid),
                                                               QString::fromStdString(loaded.sopClassUid)));
    set->addComponent(
        std::make_unique<DataSourceComponent>(std::vector<DataSourceComponent::Source>{{location, reader}}));
    if (loaded.irregularSpacing)
        set->addComponent(std::make_unique<IrregularSpacingDataComponent>(*loaded.irregularSpacing));
    set->setNote(QString::fromStdString(loaded.note));
    return set;
}

}  // namespace Dravelin::Dicom
