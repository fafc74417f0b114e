#include "host/dicom/io/DicomWriter.h"

#include "host/core/AtomicFile.h"
#include "host/core/Url.h"
#include "host/dicom/CheckedDcmOutput.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/io/DicomDatasetFactory.h"
#include "host/dicom/io/Jpeg2000Codec.h"
#include "host/dicom/io/JpegLossyCodec.h"
#include "host/dicom/io/PixelDecoder.h"
#include "host/dicom/io/PixelPacking.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcostrma.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcwcache.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpeg/djrplol.h>
#include <dcmtk/dcmjpeg/djrploss.h>
#include <dcmtk/dcmjpls/djencode.h>
#include <dcmtk/dcmjpls/djrparam.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <vector>

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

// Writes `file` whole or not at all; the reason of a failure is the system's ("No space left on
// device"), not the stream's.
bool saveAtomically(DcmFileFormat& file, const std::string& path, E_TransferSyntax xfer, Error& error)
{
    AtomicFile target(QString::fromStdString(path));
    OFCondition status = EC_Normal;
    if (target.open()) {
        const std::string problem = CheckedDcmOutput::write(
            file, xfer, EET_ExplicitLength, EWM_createNewMeta, [&target](const char* data, size_t size) {
                return target.write(data, size) ? std::string() : target.reason().toStdString();
            });
        if (!problem.empty() && !target.failed())
            target.discard(QString::fromStdString(problem));
    }
    if (target.commit())
        return true;
    error = fatal(Error::IoError, target.errorString().toStdString());
    return false;
}

// DCMTK swaps the 16-bit words of OW pixel data for big-endian files; 32-bit samples need their
// two words exchanged as well to come out big-endian.
void swapWordHalves(DcmDataset& dataset)
{
    DcmElement* element = nullptr;
    Uint16* words = nullptr;
    if (dataset.findAndGetElement(DCM_PixelData, element).bad() || !element || element->getUint16Array(words).bad() ||
        !words)
        return;
    const unsigned long count = element->getLength() / 2;
    for (unsigned long i = 0; i + 1 < count; i += 2)
        std::swap(words[i], words[i + 1]);
}

// The folders of `path`, itself included, that do not exist yet, deepest first.
QStringList missingFolders(const QString& path)
{
    QStringList missing;
    for (QFileInfo info(path); !info.exists() && !info.isRoot(); info = QFileInfo(info.absolutePath()))
        missing << info.absoluteFilePath();
    return missing;
}

// Removes the folders that are empty, deepest first.
void removeFolders(const QStringList& folders)
{
    for (const QString& folder : folders)
        QDir().rmdir(folder);
}

// One frame of samples, interleaved, as the coders take it (the JPEG 2000 codec's image).
using Frame = Jpeg2000Codec::Image;

using FrameCoder = std::function<bool(const Frame&, std::vector<std::uint8_t>&, std::string&)>;

// The largest difference between two frames' samples.
std::int64_t largestDifference(const std::vector<std::int32_t>& a, const std::vector<std::int32_t>& b)
{
    std::int64_t worst = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        worst = std::max(worst, std::abs(std::int64_t(a[i]) - std::int64_t(b[i])));
    return worst;
}

// Lossy JPEG, checked against the bound of the chosen quality: a frame that exceeds it is coded
// again at a higher quality.
FrameCoder jpegCoder(int quality)
{
    return [quality](const Frame& frame, std::vector<std::uint8_t>& codestream, std::string& error) {
        const JpegLossyCodec::Frame layout{frame.width, frame.height, frame.precision};
        const int bytes = frame.precision == 8 ? 1 : 2;
        std::vector<std::uint8_t> samples(frame.samples.size() * std::size_t(bytes));
        for (std::size_t i = 0; i < frame.samples.size(); ++i) {
            if (bytes == 1) {
                samples[i] = static_cast<std::uint8_t>(frame.samples[i]);
            } else {
                const auto w = static_cast<std::uint16_t>(frame.samples[i]);
                std::memcpy(samples.data() + 2 * i, &w, 2);
            }
        }
        const std::int64_t tolerance = lossyBoundSteps(Compression::JpegLossy, quality) - 1;
        std::vector<std::uint8_t> decoded(samples.size());
        std::vector<std::int32_t> back(frame.samples.size());
        for (int q = quality;; q = std::min(100, q + 5)) {
            if (!JpegLossyCodec::encode(layout, samples.data(), jpegQuality(q), codestream, error) ||
                !JpegLossyCodec::decode(layout, codestream, decoded.data(), error))
                return false;
            for (std::size_t i = 0; i < back.size(); ++i) {
                std::uint16_t w = decoded[i];
                if (bytes == 2)
                    std::memcpy(&w, decoded.data() + 2 * i, 2);
                back[i] = w;
            }
            const std::int64_t worst = largestDifference(frame.samples, back);
            if (worst <= tolerance)
                return true;
            if (q == 100) {
                error = "lossy JPEG changes a sample by " + std::to_string(worst) + " steps even at quality 100, " +
                        "more than the " + std::to_string(tolerance) + " allowed at quality " + std::to_string(quality);
                return false;
            }
        }
    };
}

// JPEG 2000; the lossy code streams are checked as the JPEG ones, a frame that exceeds the bound
// is coded again at half the ratio, and reversibly at last.
FrameCoder jpeg2000Coder(Compression compression, int quality)
{
    return [compression, quality](const Frame& frame, std::vector<std::uint8_t>& codestream, std::string& error) {
        if (compression == Compression::Jpeg2000Lossless)
            return Jpeg2000Codec::encode(frame, 0.0, codestream, error);
        const std::int64_t tolerance = lossyBoundSteps(compression, quality) - 1;
        for (double ratio = jpeg2000Ratio(quality);; ratio = ratio / 2 < 1.5 ? 0.0 : ratio / 2) {
            if (!Jpeg2000Codec::encode(frame, ratio, codestream, error))
                return false;
            Jpeg2000Codec::Image back;
            if (ratio == 0.0)
                return true;
            if (!Jpeg2000Codec::decode(codestream.data(), codestream.size(), back, error))
                return false;
            if (largestDifference(frame.samples, back.samples) <= tolerance)
                return true;
        }
    };
}

// Codes the native frames of a dataset one by one into its encapsulated pixel data.
bool encodeFrames(DcmDataset& dataset, E_TransferSyntax xfer, const FrameCoder& coder, Error& error)
{
    PixelDecoder decoder(dataset);
    if (!decoder.open(error))
        return false;
    const PixelFormat& f = decoder.format();
    std::vector<std::uint8_t> decoded(decoder.outputFrameBytes());
    Frame frame;
    frame.width = f.columns;
    frame.height = f.rows;
    frame.components = decoder.outputChannels();
    frame.precision = f.samplesPerPixel == 3 ? 8 : f.bitsStored;
    frame.isSigned = f.isSigned;
    const std::size_t count = std::size_t(f.rows) * std::size_t(f.columns) * std::size_t(frame.components);
    frame.samples.resize(count);

    auto* sequence = new DcmPixelSequence(DcmTag(DCM_PixelData, EVR_OB));
    auto* offsetTable = new DcmPixelItem(DcmTag(DCM_Item, EVR_OB));
    sequence->insert(offsetTable);
    DcmOffsetList offsets;
    std::size_t compressedBytes = 0;
    for (int k = 0; k < f.frames; ++k) {
        if (!decoder.decodeFrame(k, decoded.data(), error)) {
            delete sequence;
            return false;
        }
        const int size = voxelSize(decoder.outputType());
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = decoded.data() + i * std::size_t(size);
            switch (decoder.outputType()) {
                case VoxelType::Int8: frame.samples[i] = *reinterpret_cast<const std::int8_t*>(p); break;
                case VoxelType::UInt16: frame.samples[i] = *reinterpret_cast<const std::uint16_t*>(p); break;
                case VoxelType::Int16: frame.samples[i] = *reinterpret_cast<const std::int16_t*>(p); break;
                case VoxelType::UInt8: frame.samples[i] = *p; break;
                default: frame.samples[i] = *reinterpret_cast<const std::int32_t*>(p); break;
            }
        }
        std::vector<std::uint8_t> codestream;
        std::string reason;
        if (!coder(frame, codestream, reason)) {
            delete sequence;
            error =
                fatal(Error::NotSupported, f.frames > 1 ? "frame " + std::to_string(k + 1) + ": " + reason : reason);
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
    const bool jpeg2000 = xfer == EXS_JPEG2000 || xfer == EXS_JPEG2000LosslessOnly;
    const bool lossless = xfer == EXS_JPEG2000LosslessOnly;
    if (jpeg2000 && f.samplesPerPixel == 3)
        dataset.putAndInsertString(DCM_PhotometricInterpretation, lossless ? "YBR_RCT" : "YBR_ICT");
    if (!lossless) {
        const double ratio = double(count * std::size_t(f.frames) * std::size_t(f.bitsAllocated / 8)) /
                             double(std::max<std::size_t>(compressedBytes, 1));
        dataset.putAndInsertString(DCM_LossyImageCompression, "01");
        dataset.putAndInsertString(DCM_LossyImageCompressionRatio, decimalString(ratio).c_str());
        dataset.putAndInsertString(DCM_LossyImageCompressionMethod, jpeg2000 ? "ISO_15444_1" : "ISO_10918_1");
    }
    return true;
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

bool DicomWriter::encodeLosslessJpeg2000(DcmDataset& dataset, Error& error)
{
    registerCodecs();
    return encodeFrames(dataset, EXS_JPEG2000LosslessOnly, jpeg2000Coder(Compression::Jpeg2000Lossless, 100), error);
}

DicomWriter::DicomWriter(Compression compression, int quality) : m_compression(compression), m_quality(quality)
{
    registerCodecs();
}

std::string DicomWriter::transferSyntaxUid() const
{
    return DcmXfer(transferSyntaxOf(m_compression, 16)).getXferID();
}

bool DicomWriter::encode(DcmDataset& dataset, Error& error, const PixelPacking::ValueRange* seriesRange) const
{
    const PixelPacking::Result packed = PixelPacking::fit(dataset, m_compression, error, seriesRange);
    if (packed == PixelPacking::Result::Refused)
        return false;
    const E_TransferSyntax xfer = transferSyntaxOf(m_compression, bitsAllocatedOf(dataset));
    if (xfer == EXS_BigEndianExplicit && bitsAllocatedOf(dataset) == 32)
        swapWordHalves(dataset);
    if (!DcmXfer(xfer).isEncapsulated() || !dataset.tagExists(DCM_PixelData))
        return true;
    Uint16 samplesPerPixel = 1;
    dataset.findAndGetUint16(DCM_SamplesPerPixel, samplesPerPixel);
    switch (m_compression) {
        case Compression::JpegLossy:
            if (samplesPerPixel == 1)
                return encodeFrames(dataset, xfer, jpegCoder(m_quality), error);
            break;
        case Compression::Jpeg2000Lossy:
        case Compression::Jpeg2000Lossless:
            return encodeFrames(dataset, xfer, jpeg2000Coder(m_compression, m_quality), error);
        default: break;
    }
    OFCondition status;
    if (m_compression == Compression::JpegLossy) {
        // Colour: DCMTK's encoder, for the YCbCr with half-width chroma that DICOM asks of lossy
        // JPEG colour; it has no rescale to lose.
        const DJ_RPLossy parameter(jpegQuality(m_quality));
        status = dataset.chooseRepresentation(xfer, &parameter);
    } else if (m_compression == Compression::JpegLossless) {
        const DJ_RPLossless parameter(1, 0);
        status = dataset.chooseRepresentation(xfer, &parameter);
    } else if (m_compression == Compression::JpegLsLossless) {
        const DJLSRepresentationParameter parameter(0, OFTrue);
        status = dataset.chooseRepresentation(xfer, &parameter);
    } else {
        // Quantised samples are already half a step off: NEAR one less keeps the bound.
        const int near = jpegLsNearValue(m_quality) - (packed == PixelPacking::Result::Quantised ? 1 : 0);
        const DJLSRepresentationParameter parameter(static_cast<Uint16>(near), OFFalse);
        status = dataset.chooseRepresentation(xfer, &parameter);
    }
    if (status.bad() || !dataset.canWriteXfer(xfer)) {
        error = fatal(Error::NotSupported, "The pixel data cannot be compressed as " +
                                               std::string(DcmXfer(xfer).getXferName()) + ": " +
                                               (status.bad() ? status.text() : "the codec refused the image"));
        return false;
    }
    return true;
}

bool DicomWriter::seriesRange(const std::vector<std::shared_ptr<DcmDataset>>& datasets, PixelPacking::ValueRange& range,
                              Error& error, const PixelSource& pixels) const
{
    if (isLosslessCompression(m_compression))
        return true;
    for (std::size_t i = 0; i < datasets.size(); ++i) {
        if (!pixels) {
            if (!PixelPacking::widenRange(*datasets[i], range, error))
                return false;
            continue;
        }
        DcmDataset copy(*datasets[i]);
        pixels(i, copy);
        if (!PixelPacking::widenRange(copy, range, error))
            return false;
    }
    return true;
}

bool DicomWriter::saveCopy(const DcmDataset& dataset, const std::string& path, Error& error,
                           const PixelPacking::ValueRange* seriesRange, const PixelSource& pixels,
                           std::size_t index) const
{
    // The caller's dataset keeps its native pixel data: a later write may choose another compression.
    DcmFileFormat file(new DcmDataset(dataset), OFFalse);
    DcmDataset& copy = *file.getDataset();
    if (pixels)
        pixels(index, copy);
    if (!encode(copy, error, seriesRange))
        return false;
    const E_TransferSyntax xfer = transferSyntaxOf(m_compression, bitsAllocatedOf(copy));
    const QFileInfo info(QString::fromStdString(path));
    if (!info.dir().mkpath(".")) {
        error = fatal(Error::IoError, "Cannot create the folder of '" + path + "'");
        return false;
    }
    return saveAtomically(file, path, xfer, error);
}

bool DicomWriter::writeFile(const DcmDataset& dataset, const std::string& path, Error& error) const
{
    const QStringList created = missingFolders(QFileInfo(QString::fromStdString(path)).absolutePath());
    if (saveCopy(dataset, path, error, nullptr))
        return true;
    removeFolders(created);
    return false;
}

bool DicomWriter::writeFolder(const std::vector<std::shared_ptr<DcmDataset>>& datasets, const std::string& folder,
                              Progress* progress, Error& error, const PixelSource& pixels) const
{
    // What the pixel attributes refuse is refused before anything is created.
    for (const auto& dataset : datasets) {
        if (!dataset) {
            error = fatal(Error::MissingValue, "A dataset is missing");
            return false;
        }
        if (!PixelPacking::accepts(*dataset, m_compression, error))
            return false;
    }
    // Quantised slices share one rescale, so that the series keeps one pixel format.
    PixelPacking::ValueRange range;
    if (!seriesRange(datasets, range, error, pixels))
        return false;
    const QDir dir(QString::fromStdString(folder));
    const QStringList created = missingFolders(dir.absolutePath());
    if (!dir.mkpath(".")) {
        error = fatal(Error::IoError, "Cannot create the folder '" + folder + "'");
        removeFolders(created);
        return false;
    }
    if (progress)
        progress->setRange(static_cast<long long>(datasets.size()));
    // Encoding dominates: datasets are independent, so they are encoded and written side by side.
    const long count = static_cast<long>(datasets.size());
    std::vector<Error> errors(datasets.size());
    std::vector<char> failed(datasets.size(), 0);
    std::vector<char> written(datasets.size(), 0);
    auto nameOf = [&dir](long i) {
        char name[32];
        std::snprintf(name, sizeof(name), "IMG%04ld.dcm", i + 1);
        return dir.filePath(QString::fromLatin1(name));
    };
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
        if (!saveCopy(*datasets[std::size_t(i)], nameOf(i).toStdString(), errors[std::size_t(i)], &range, pixels,
                      std::size_t(i))) {
            failed[std::size_t(i)] = 1;
            stop = true;
            continue;
        }
        written[std::size_t(i)] = 1;
        if (progress)
            progress->setValue(++done);
    }
    for (std::size_t i = 0; i < datasets.size(); ++i)
        if (failed[i]) {
            error = errors[i];
            // A failed export leaves nothing of its own behind.
            for (long k = 0; k < count; ++k)
                if (written[std::size_t(k)])
                    QFile::remove(nameOf(k));
            removeFolders(created);
            return false;
        }
    return true;
}

bool DicomWriter::store(const std::vector<std::shared_ptr<DcmDataset>>& datasets, const std::string& url,
                        Error& error) const
{
    for (const auto& dataset : datasets)
        if (!dataset)
            return error = fatal(Error::MissingValue, "A dataset is missing"), false;
    PixelPacking::ValueRange range;
    if (!seriesRange(datasets, range, error))
        return false;
    std::vector<std::shared_ptr<DcmDataset>> encoded;
    for (const auto& dataset : datasets) {
        encoded.push_back(std::make_shared<DcmDataset>(*dataset));
        if (!encode(*encoded.back(), error, &range))
            return false;
    }
    const DicomPacsConfiguration configuration = DicomPacsConfiguration::fromUri(Filesystem::Url(url));
    DicomPacsCommunication communication(configuration);
    std::string firstError;
    communication.setErrorHandler([&firstError](const Error& e) {
        if (firstError.empty())
            firstError = e.message;
    });
    if (!communication.sendStoreRequest(encoded)) {
        error = fatal(Error::NetworkError,
                      "C-STORE to '" + url + "' failed" + (firstError.empty() ? std::string() : ": " + firstError));
        return false;
    }
    return true;
}

}  // namespace Dravelin::Dicom
