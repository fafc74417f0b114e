#include "host/dicom/io/DicomWriter.h"

#include "host/core/Url.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/io/DicomDatasetFactory.h"
#include "host/dicom/io/Jpeg2000Codec.h"
#include "host/dicom/io/PixelDecoder.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpeg/djrplol.h>
#include <dcmtk/dcmjpeg/djrploss.h>
#include <dcmtk/dcmjpls/djencode.h>
#include <dcmtk/dcmjpls/djrparam.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace Dravelin::Dicom {

namespace {

E_TransferSyntax transferSyntaxOf(Compression c, int bitsAllocated)
{
    switch (c) {
        case Compression::ImplicitLittleEndian: return EXS_LittleEndianImplicit;
        case Compression::ExplicitLittleEndian: return EXS_LittleEndianExplicit;
        case Compression::DeflatedLittleEndian: return EXS_DeflatedLittleEndianExplicit;
        case Compression::ExplicitBigEndian: return EXS_BigEndianExplicit;
        case Compression::JpegLossy: return bitsAllocated <= 8 ? EXS_JPEGProcess1 : EXS_JPEGProcess2_4;
        case Compression::JpegLossless: return EXS_JPEGProcess14SV1;
        case Compression::JpegLsLossless: return EXS_JPEGLSLossless;
        case Compression::JpegLsNearLossless: return EXS_JPEGLSLossy;
        case Compression::Jpeg2000Lossy: return EXS_JPEG2000;
        case Compression::Jpeg2000Lossless: return EXS_JPEG2000LosslessOnly;
    }
    return EXS_LittleEndianExplicit;
}

int bitsAllocatedOf(DcmDataset& dataset)
{
    Uint16 bits = 16;
    dataset.findAndGetUint16(DCM_BitsAllocated, bits);
    return bits;
}

Error fatal(Error::Code code, const std::string& text)
{
    return Error(code, Error::Fatal, text);
}

}  // namespace

void DicomWriter::registerCodecs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        PixelDecoder::registerCodecs();
        // UIDs are chosen by the dataset factory; the codecs must keep them.
        DJEncoderRegistration::registerCodecs(ECC_lossyYCbCr, EUC_never);
        DJLSEncoderRegistration::registerCodecs(0, 0, 0, 0, OFTrue, 0, OFTrue, EJLSUC_never);
    });
}

DicomWriter::DicomWriter(Compression compression, int quality) : m_compression(compression), m_quality(quality)
{
    registerCodecs();
}

std::string DicomWriter::transferSyntaxUid() const
{
    return DcmXfer(transferSyntaxOf(m_compression, 16)).getXferID();
}

bool DicomWriter::encode(DcmDataset& dataset, Error& error) const
{
    const E_TransferSyntax xfer = transferSyntaxOf(m_compression, bitsAllocatedOf(dataset));
    if (!DcmXfer(xfer).isEncapsulated() || !dataset.tagExists(DCM_PixelData))
        return true;
    if (m_compression == Compression::Jpeg2000Lossy || m_compression == Compression::Jpeg2000Lossless)
        return encodeJpeg2000(dataset, error);
    OFCondition status;
    switch (m_compression) {
        case Compression::JpegLossy: {
            const DJ_RPLossy parameter(jpegQuality(m_quality));
            status = dataset.chooseRepresentation(xfer, &parameter);
            break;
        }
        case Compression::JpegLossless: {
            const DJ_RPLossless parameter(1, 0);
            status = dataset.chooseRepresentation(xfer, &parameter);
            break;
        }
        case Compression::JpegLsLossless: {
            const DJLSRepresentationParameter parameter(0, OFTrue);
            status = dataset.chooseRepresentation(xfer, &parameter);
            break;
        }
        default: {
            const DJLSRepresentationParameter parameter(static_cast<Uint16>(jpegLsNearValue(m_quality)), OFFalse);
            status = dataset.chooseRepresentation(xfer, &parameter);
            break;
        }
    }
    if (status.bad() || !dataset.canWriteXfer(xfer)) {
        error = fatal(Error::NotSupported, "The pixel data cannot be compressed as " +
                                               std::string(DcmXfer(xfer).getXferName()) + ": " +
                                               (status.bad() ? status.text() : "the codec refused the image"));
        return false;
    }
    return true;
}

bool DicomWriter::encodeJpeg2000(DcmDataset& dataset, Error& error) const
{
    PixelDecoder decoder(dataset);
    if (!decoder.open(error))
        return false;
    const PixelFormat& f = decoder.format();
    const bool lossless = m_compression == Compression::Jpeg2000Lossless;
    const E_TransferSyntax xfer = transferSyntaxOf(m_compression, f.bitsAllocated);
    std::vector<std::uint8_t> frame(decoder.outputFrameBytes());
    Jpeg2000Codec::Image image;
    image.width = f.columns;
    image.height = f.rows;
    image.components = decoder.outputChannels();
    image.precision = f.samplesPerPixel == 3 ? 8 : f.bitsStored;
    image.isSigned = f.isSigned;
    const std::size_t count = std::size_t(f.rows) * std::size_t(f.columns) * std::size_t(image.components);
    image.samples.resize(count);

    auto* sequence = new DcmPixelSequence(DcmTag(DCM_PixelData, EVR_OB));
    auto* offsetTable = new DcmPixelItem(DcmTag(DCM_Item, EVR_OB));
    sequence->insert(offsetTable);
    DcmOffsetList offsets;
    std::size_t compressedBytes = 0;
    for (int k = 0; k < f.frames; ++k) {
        if (!decoder.decodeFrame(k, frame.data(), error)) {
            delete sequence;
            return false;
        }
        const int size = voxelSize(decoder.outputType());
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = frame.data() + i * std::size_t(size);
            switch (decoder.outputType()) {
                case VoxelType::Int8: image.samples[i] = *reinterpret_cast<const std::int8_t*>(p); break;
                case VoxelType::UInt16: image.samples[i] = *reinterpret_cast<const std::uint16_t*>(p); break;
                case VoxelType::Int16: image.samples[i] = *reinterpret_cast<const std::int16_t*>(p); break;
                case VoxelType::UInt8: image.samples[i] = *p; break;
                default: image.samples[i] = *reinterpret_cast<const std::int32_t*>(p); break;
            }
        }
        std::vector<std::uint8_t> codestream;
        std::string reason;
        if (!Jpeg2000Codec::encode(image, lossless ? 0.0 : jpeg2000Ratio(m_quality), codestream, reason)) {
            delete sequence;
            error = fatal(Error::NotSupported, reason);
            return false;
        }
        compressedBytes += codestream.size();
        sequence->storeCompressedFrame(offsets, codestream.data(), static_cast<Uint32>(codestream.size()), 0);
    }
    offsetTable->createOffsetTable(offsets);
    DcmElement* element = nullptr;
    dataset.findAndGetElement(DCM_PixelData, element);
    auto* pixelData = dynamic_cast<DcmPixelData*>(element);
    if (!pixelData) {
        delete sequence;
        error = fatal(Error::MissingValue, "The dataset has no pixel data");
        return false;
    }
    pixelData->putOriginalRepresentation(xfer, nullptr, sequence);
    if (f.samplesPerPixel == 3)
        dataset.putAndInsertString(DCM_PhotometricInterpretation, lossless ? "YBR_RCT" : "YBR_ICT");
    if (!lossless) {
        const double ratio = double(count * std::size_t(f.frames) * std::size_t(f.bitsAllocated / 8)) /
                             double(std::max<std::size_t>(compressedBytes, 1));
        dataset.putAndInsertString(DCM_LossyImageCompression, "01");
        dataset.putAndInsertString(DCM_LossyImageCompressionRatio, decimalString(ratio).c_str());
        dataset.putAndInsertString(DCM_LossyImageCompressionMethod, "ISO_15444_1");
    }
    return true;
}

bool DicomWriter::writeFile(DcmDataset& dataset, const std::string& path, Error& error) const
{
    if (!encode(dataset, error))
        return false;
    const E_TransferSyntax xfer = transferSyntaxOf(m_compression, bitsAllocatedOf(dataset));
    const QFileInfo info(QString::fromStdString(path));
    if (!info.dir().mkpath(".")) {
        error = fatal(Error::IoError, "Cannot create the folder of '" + path + "'");
        return false;
    }
    const QString temporary = info.dir().filePath("." + info.fileName() + ".part");
    DcmFileFormat file(&dataset);
    const OFCondition status = file.saveFile(temporary.toStdString().c_str(), xfer, EET_ExplicitLength, EGL_recalcGL,
                                             EPD_noChange, 0, 0, EWM_createNewMeta);
    if (status.bad()) {
        QFile::remove(temporary);
        error = fatal(Error::IoError, "Cannot write '" + path + "': " + status.text());
        return false;
    }
    // rename() replaces an existing file in one step, so readers see the old or the new file.
    if (std::rename(temporary.toStdString().c_str(), path.c_str()) != 0) {
        QFile::remove(temporary);
        error = fatal(Error::IoError, "Cannot write '" + path + "': the file cannot be renamed into place");
        return false;
    }
    return true;
}

bool DicomWriter::writeFolder(const std::vector<std::shared_ptr<DcmDataset>>& datasets, const std::string& folder,
                              Progress* progress, Error& error) const
{
    const QDir dir(QString::fromStdString(folder));
    if (!dir.mkpath(".")) {
        error = fatal(Error::IoError, "Cannot create the folder '" + folder + "'");
        return false;
    }
    if (progress)
        progress->setRange(static_cast<long long>(datasets.size()));
    // Encoding dominates: datasets are independent, so they are encoded and written side by side.
    const long count = static_cast<long>(datasets.size());
    std::vector<Error> errors(datasets.size());
    std::vector<char> failed(datasets.size(), 0);
    std::atomic<long> done{0};
    std::atomic<bool> stop{false};
#pragma omp parallel for schedule(dynamic)
    for (long i = 0; i < count; ++i) {
        if (stop)
            continue;
        if (progress && progress->wasCancelled()) {
            errors[std::size_t(i)] = Error(Error::Cancelled, Error::Fatal, "Writing was cancelled");
            failed[std::size_t(i)] = 1;
            stop = true;
            continue;
        }
        char name[32];
        std::snprintf(name, sizeof(name), "IMG%04ld.dcm", i + 1);
        const auto& dataset = datasets[std::size_t(i)];
        if (!dataset || !writeFile(*dataset, dir.filePath(name).toStdString(), errors[std::size_t(i)])) {
            failed[std::size_t(i)] = 1;
            stop = true;
            continue;
        }
        if (progress)
            progress->setValue(++done);
    }
    for (std::size_t i = 0; i < datasets.size(); ++i)
        if (failed[i]) {
            error = errors[i].message.empty() ? Error(Error::IoError, Error::Fatal, "A dataset is missing") : errors[i];
            return false;
        }
    return true;
}

bool DicomWriter::store(const std::vector<std::shared_ptr<DcmDataset>>& datasets, const std::string& url,
                        Error& error) const
{
    for (const auto& dataset : datasets)
        if (!dataset || !encode(*dataset, error))
            return false;
    const DicomPacsConfiguration configuration = DicomPacsConfiguration::fromUri(Filesystem::Url(url));
    DicomPacsCommunication communication(configuration);
    std::string firstError;
    communication.setErrorHandler([&firstError](const Error& e) {
        if (firstError.empty())
            firstError = e.message;
    });
    if (!communication.sendStoreRequest(datasets)) {
        error = fatal(Error::NetworkError,
                      "C-STORE to '" + url + "' failed" + (firstError.empty() ? std::string() : ": " + firstError));
        return false;
    }
    return true;
}

}  // namespace Dravelin::Dicom
