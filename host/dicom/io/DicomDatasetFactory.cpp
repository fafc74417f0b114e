#include "host/dicom/io/DicomDatasetFactory.h"

#include "host/data/SharedImageSet.h"
#include "host/dicom/components/TagStoreDataComponent.h"
#include "host/dicom/io/IOD_Registry.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace Dravelin::Dicom {

namespace {

// Attributes taken over from the source data when it has them.
const DcmTagKey kCopied[] = {DCM_PatientName,
                             DCM_PatientID,
                             DCM_IssuerOfPatientID,
                             DCM_PatientBirthDate,
                             DCM_PatientSex,
                             DCM_PatientAge,
                             DCM_PatientSize,
                             DCM_PatientWeight,
                             DCM_PatientComments,
                             DCM_StudyInstanceUID,
                             DCM_StudyDate,
                             DCM_StudyTime,
                             DCM_ReferringPhysicianName,
                             DCM_StudyID,
                             DCM_AccessionNumber,
                             DCM_StudyDescription,
                             DCM_SeriesDate,
                             DCM_SeriesTime,
                             DCM_SeriesDescription,
                             DCM_SeriesNumber,
                             DCM_BodyPartExamined,
                             DCM_PatientPosition,
                             DCM_ProtocolName,
                             DCM_FrameOfReferenceUID,
                             DCM_PositionReferenceIndicator,
                             DCM_Manufacturer,
                             DCM_InstitutionName,
                             DCM_StationName,
                             DCM_ManufacturerModelName,
                             DCM_SoftwareVersions,
                             DCM_AcquisitionDate,
                             DCM_AcquisitionTime,
                             DCM_AcquisitionNumber,
                             DCM_KVP,
                             DCM_XRayTubeCurrent,
                             DCM_ExposureTime,
                             DCM_ConvolutionKernel,
                             DCM_ScanningSequence,
                             DCM_SequenceVariant,
                             DCM_ScanOptions,
                             DCM_MRAcquisitionType,
                             DCM_RepetitionTime,
                             DCM_EchoTime,
                             DCM_EchoTrainLength,
                             DCM_InversionTime,
                             DCM_MagneticFieldStrength,
                             DCM_ImagedNucleus,
                             DCM_FlipAngle,
                             DCM_SequenceName};

// Type 2 attributes (present, possibly empty) of every written instance.
const DcmTagKey kAlwaysPresent[] = {
    DCM_PatientName,        DCM_PatientID,    DCM_PatientBirthDate,       DCM_PatientSex,
    DCM_StudyDate,          DCM_StudyTime,    DCM_ReferringPhysicianName, DCM_StudyID,
    DCM_AccessionNumber,    DCM_SeriesNumber, DCM_Manufacturer,           DCM_InstanceNumber,
    DCM_PatientOrientation, DCM_Laterality};

std::string newUid(const char* root)
{
    char buffer[100];
    dcmGenerateUniqueIdentifier(buffer, root);
    return buffer;
}

std::string modalityCode(const SharedImageSet& set, DcmDataset* source)
{
    OFString code;
    if (source && source->findAndGetOFString(DCM_Modality, code).good() && !code.empty())
        return code.c_str();
    switch (set.modality()) {
        case Data::ModalityCT: return "CT";
        case Data::ModalityMR: return "MR";
        case Data::ModalityPET: return "PT";
        case Data::ModalityNM: return "NM";
        case Data::ModalityUS: return "US";
        default: return "OT";
    }
}

// How the real values of an image become stored samples.
struct PixelPlan
{
    bool rgb = false;
    int bitsAllocated = 16;
    int bitsStored = 16;
    bool isSigned = false;
    double slope = 1;      // of the written rescale
    double intercept = 0;  // of the written rescale
    bool exact = true;     // stored = source value - offset
    std::int64_t offset = 0;
};

int bitsFor(std::int64_t maxValue)
{
    int bits = 1;
    while (bits < 63 && (std::int64_t(1) << bits) <= maxValue)
        ++bits;
    return bits;
}

bool integralValues(const SharedImage& image)
{
    if (image.pixelType() != PixelType::Float)
        return true;
    const float* p = image.typedData<float>();
    for (std::size_t i = 0; i < image.voxelCount(); ++i)
        if (p[i] != std::floor(p[i]) || std::abs(p[i]) > 2147483647.0f)
            return false;
    return true;
}

PixelPlan planPixels(const SharedImage& image, bool wantUnsigned, int maxBits, bool allowByte, bool compressed)
{
    PixelPlan plan;
    if (image.pixelType() == PixelType::RGB) {
        plan.rgb = true;
        plan.bitsAllocated = plan.bitsStored = 8;
        return plan;
    }
    const auto [lo, hi] = image.minMax();
    const double s0 = image.rescaleSlope();
    const double b0 = image.rescaleIntercept();
    const std::int64_t limit = (std::int64_t(1) << maxBits) - 1;
    bool exact = integralValues(image);
    if (exact) {
        const auto ilo = static_cast<std::int64_t>(lo);
        const auto ihi = static_cast<std::int64_t>(hi);
        if (!wantUnsigned && ilo < 0 && ilo >= -32768 && ihi <= 32767 && maxBits == 16) {
            plan.isSigned = true;
            plan.bitsStored = std::max(bitsFor(-ilo - 1), bitsFor(ihi)) + 1;
        } else {
            plan.offset = ilo < 0 ? ilo : 0;
            if (ihi - plan.offset > limit)
                exact = false;
            else
                plan.bitsStored = bitsFor(ihi - plan.offset);
        }
    }
    if (exact) {
        plan.slope = s0;
        plan.intercept = b0 + static_cast<double>(plan.offset) * s0;
    } else {
        const double a = lo * s0 + b0;
        const double b = hi * s0 + b0;
        plan.intercept = std::min(a, b);
        plan.slope = std::max(a, b) > plan.intercept ? (std::max(a, b) - plan.intercept) / double(limit) : 1.0;
        plan.bitsStored = maxBits;
        plan.isSigned = false;
    }
    plan.exact = exact;
    plan.bitsAllocated = allowByte && image.pixelType() == PixelType::UInt8 && exact && s0 == 1 && b0 == 0 ? 8 : 16;
    if (plan.bitsAllocated == 8)
        plan.bitsStored = 8;
    else if (maxBits == 12)
        plan.bitsStored = 12;
    else if (!compressed || plan.isSigned || plan.bitsStored > 12)
        plan.bitsStored = 16;
    else
        plan.bitsStored = 12;  // what CT and MR readers expect of fewer bits
    return plan;
}

// Samples of slices [first, first + count) as the plan stores them, little-endian words or bytes.
std::vector<std::uint8_t> planSamples(const SharedImage& image, const PixelPlan& plan, int first, int count)
{
    const std::size_t perSlice =
        static_cast<std::size_t>(image.width()) * std::size_t(image.height()) * std::size_t(image.channels());
    const std::size_t n = perSlice * std::size_t(count);
    const std::size_t start = perSlice * std::size_t(first);
    std::vector<std::uint8_t> out(n * std::size_t(plan.bitsAllocated / 8));
    if (plan.rgb) {
        std::copy_n(static_cast<const std::uint8_t*>(image.data()) + start, n, out.begin());
        return out;
    }
    const double s0 = image.rescaleSlope();
    const double b0 = image.rescaleIntercept();
    dispatchPixelType(image.pixelType(), [&](auto zero) {
        using T = decltype(zero);
        const T* in = static_cast<const T*>(image.data()) + start;
        for (std::size_t i = 0; i < n; ++i) {
            std::int64_t v;
            if (plan.exact)
                v = static_cast<std::int64_t>(in[i]) - plan.offset;
            else
                v = std::llround(((static_cast<double>(in[i]) * s0 + b0) - plan.intercept) / plan.slope);
            if (plan.bitsAllocated == 8) {
                out[i] = static_cast<std::uint8_t>(v);
            } else {
                const auto w = static_cast<std::uint16_t>(v);
                out[2 * i] = static_cast<std::uint8_t>(w & 0xff);
                out[2 * i + 1] = static_cast<std::uint8_t>(w >> 8);
            }
        }
        return 0;
    });
    return out;
}

void putPixelModule(DcmDataset& ds, const SharedImage& image, const PixelPlan& plan, int first, int count)
{
    ds.putAndInsertUint16(DCM_SamplesPerPixel, plan.rgb ? 3 : 1);
    ds.putAndInsertString(DCM_PhotometricInterpretation, plan.rgb ? "RGB" : "MONOCHROME2");
    if (plan.rgb)
        ds.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    ds.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(image.height()));
    ds.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(image.width()));
    ds.putAndInsertUint16(DCM_BitsAllocated, static_cast<Uint16>(plan.bitsAllocated));
    ds.putAndInsertUint16(DCM_BitsStored, static_cast<Uint16>(plan.bitsStored));
    ds.putAndInsertUint16(DCM_HighBit, static_cast<Uint16>(plan.bitsStored - 1));
    ds.putAndInsertUint16(DCM_PixelRepresentation, plan.isSigned ? 1 : 0);
    const std::vector<std::uint8_t> samples = planSamples(image, plan, first, count);
    if (plan.bitsAllocated == 8) {
        ds.putAndInsertUint8Array(DCM_PixelData, samples.data(), static_cast<unsigned long>(samples.size()));
    } else {
        std::vector<Uint16> words(samples.size() / 2);
        for (std::size_t i = 0; i < words.size(); ++i)
            words[i] = static_cast<Uint16>(samples[2 * i] | samples[2 * i + 1] << 8);
        ds.putAndInsertUint16Array(DCM_PixelData, words.data(), static_cast<unsigned long>(words.size()));
    }
    if (!plan.rgb) {
        ds.putAndInsertString(DCM_RescaleIntercept, decimalString(plan.intercept).c_str());
        ds.putAndInsertString(DCM_RescaleSlope, decimalString(plan.slope).c_str());
    }
}

std::string decimals(const Eigen::Vector3d& v, int n = 3)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += (i ? "\\" : "") + decimalString(v[i]);
    return text;
}

void copyFromSource(DcmDataset& target, DcmDataset* source)
{
    if (!source)
        return;
    for (const DcmTagKey& key : kCopied) {
        DcmElement* element = nullptr;
        if (source->findAndGetElement(key, element).good() && element)
            target.insert(static_cast<DcmElement*>(element->clone()), true);
    }
}

}  // namespace

std::string decimalString(double value)
{
    char buffer[32];
    for (int precision = 10; precision > 0; --precision) {
        std::snprintf(buffer, sizeof(buffer), "%.*g", precision, value);
        if (std::strlen(buffer) <= 16)
            break;
    }
    return buffer;
}

DicomDatasetFactory::DicomDatasetFactory(const IOD_Registry* registry, Compression compression)
    : m_registry(registry), m_compression(compression)
{
}

void DicomDatasetFactory::setReferencedInstances(std::vector<std::pair<std::string, std::string>> instances)
{
    m_referenced = std::move(instances);
}

std::vector<std::shared_ptr<DcmDataset>> DicomDatasetFactory::create(const SharedImageSet& set, Error& error) const
{
    std::vector<std::shared_ptr<DcmDataset>> result;
    if (set.empty()) {
        error = Error(Error::InvalidValue, Error::Fatal, "The image set holds no image");
        return result;
    }
    const auto* store = set.getComponent<TagStoreDataComponent>();
    const std::shared_ptr<DcmDataset> source = store ? store->dataset(0) : nullptr;
    const std::string modality = modalityCode(set, source.get());
    const bool compressed = static_cast<int>(m_compression) >= static_cast<int>(Compression::JpegLossy);
    const int maxBits = m_compression == Compression::JpegLossy ? 12 : 16;

    const std::string studyUid = [&] {
        OFString uid;
        return source && source->findAndGetOFString(DCM_StudyInstanceUID, uid).good() && !uid.empty()
                   ? std::string(uid.c_str())
                   : newUid(SITE_STUDY_UID_ROOT);
    }();
    const std::string frameOfReference = [&] {
        OFString uid;
        return source && source->findAndGetOFString(DCM_FrameOfReferenceUID, uid).good() && !uid.empty()
                   ? std::string(uid.c_str())
                   : newUid(SITE_INSTANCE_UID_ROOT);
    }();
    const std::string seriesUid = newUid(SITE_SERIES_UID_ROOT);
    const QDateTime now = QDateTime::currentDateTime();
    const std::string today = now.toString("yyyyMMdd").toStdString();
    const std::string time = now.toString("HHmmss").toStdString();

    auto common = [&](DcmDataset& ds, const char* sopClass, int instanceNumber, int image) {
        copyFromSource(ds, source.get());
        ds.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
        ds.putAndInsertString(DCM_SOPClassUID, sopClass);
        ds.putAndInsertString(DCM_SOPInstanceUID, newUid(SITE_INSTANCE_UID_ROOT).c_str());
        ds.putAndInsertString(DCM_StudyInstanceUID, studyUid.c_str());
        ds.putAndInsertString(DCM_SeriesInstanceUID, seriesUid.c_str());
        ds.putAndInsertString(DCM_Modality, modality.c_str());
        ds.putAndInsertString(DCM_InstanceNumber, std::to_string(instanceNumber).c_str());
        ds.putAndInsertString(DCM_ContentDate, today.c_str());
        ds.putAndInsertString(DCM_ContentTime, time.c_str());
        ds.putAndInsertString(DCM_InstanceCreationDate, today.c_str());
        ds.putAndInsertString(DCM_InstanceCreationTime, time.c_str());
        ds.putAndInsertString(DCM_ImageType, modality == "CT"   ? "DERIVED\\SECONDARY\\AXIAL"
                                             : modality == "MR" ? "DERIVED\\SECONDARY\\OTHER"
                                                                : "DERIVED\\SECONDARY");
        for (const DcmTagKey& key : kAlwaysPresent)
            if (!ds.tagExists(key))
                ds.insertEmptyElement(key);
        if (m_registry) {
            const WriteContext context{&set, image, m_referenced};
            for (const Extension* e : m_registry->extensions())
                if (e && e->isEnabled())
                    e->apply(ds, context);
        }
    };

    const bool perSlice = (modality == "CT" || modality == "MR") && set.pixelType() != PixelType::RGB;
    int instanceNumber = 1;
    for (int i = 0; i < set.size(); ++i) {
        const SharedImage& image = *set.get(i);
        if (image.width() > 65535 || image.height() > 65535) {
            error = Error(Error::NotSupported, Error::Fatal, "The image is too large for DICOM");
            return {};
        }
        if (perSlice) {
            const PixelPlan plan = planPixels(image, compressed, maxBits, false, compressed);
            const Eigen::Matrix3d rotation = image.imageToWorld().linear();
            const Eigen::Vector3d row = rotation.col(0).normalized();
            const Eigen::Vector3d column = rotation.col(1).normalized();
            for (int k = 0; k < image.slices(); ++k) {
                auto ds = std::make_shared<DcmDataset>();
                common(*ds, modality == "CT" ? UID_CTImageStorage : UID_MRImageStorage, instanceNumber++, i);
                if (!ds->tagExists(DCM_FrameOfReferenceUID))
                    ds->putAndInsertString(DCM_FrameOfReferenceUID, frameOfReference.c_str());
                for (const DcmTagKey& key : {DCM_PositionReferenceIndicator, DCM_PatientPosition})
                    if (!ds->tagExists(key))
                        ds->insertEmptyElement(key);
                if (modality == "CT") {
                    for (const DcmTagKey& key : {DCM_KVP, DCM_AcquisitionNumber})
                        if (!ds->tagExists(key))
                            ds->insertEmptyElement(key);
                } else {
                    if (!ds->tagExists(DCM_ScanningSequence))
                        ds->putAndInsertString(DCM_ScanningSequence, "RM");
                    if (!ds->tagExists(DCM_SequenceVariant))
                        ds->putAndInsertString(DCM_SequenceVariant, "NONE");
                    for (const DcmTagKey& key : {DCM_ScanOptions, DCM_MRAcquisitionType, DCM_EchoTime,
                                                 DCM_EchoTrainLength, DCM_RepetitionTime})
                        if (!ds->tagExists(key))
                            ds->insertEmptyElement(key);
                }
                const Eigen::Vector3d position = image.imageToWorld() * Eigen::Vector3d(0, 0, k * image.spacing().z());
                ds->putAndInsertString(DCM_ImagePositionPatient, decimals(position).c_str());
                ds->putAndInsertString(DCM_ImageOrientationPatient, (decimals(row) + "\\" + decimals(column)).c_str());
                ds->putAndInsertString(
                    DCM_PixelSpacing,
                    (decimalString(image.spacing().y()) + "\\" + decimalString(image.spacing().x())).c_str());
                ds->putAndInsertString(DCM_SliceThickness, decimalString(image.spacing().z()).c_str());
                const Eigen::Vector3d normal = row.cross(column);
                ds->putAndInsertString(DCM_SliceLocation, decimalString(normal.dot(position)).c_str());
                putPixelModule(*ds, image, plan, k, 1);
                result.push_back(std::move(ds));
            }
            continue;
        }
        const PixelPlan plan = planPixels(image, true, maxBits, true, compressed);
        const char* sopClass = plan.rgb                  ? UID_MultiframeTrueColorSecondaryCaptureImageStorage
                               : plan.bitsAllocated == 8 ? UID_MultiframeGrayscaleByteSecondaryCaptureImageStorage
                                                         : UID_MultiframeGrayscaleWordSecondaryCaptureImageStorage;
        auto ds = std::make_shared<DcmDataset>();
        common(*ds, sopClass, instanceNumber++, i);
        ds->putAndInsertString(DCM_ConversionType, "WSD");
        ds->putAndInsertString(DCM_BurnedInAnnotation, "NO");
        ds->putAndInsertString(DCM_NumberOfFrames, std::to_string(image.slices()).c_str());
        if (image.slices() > 1) {
            ds->putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_PageNumberVector);
            std::string pages;
            for (int k = 0; k < image.slices(); ++k)
                pages += (k ? "\\" : "") + std::to_string(k + 1);
            ds->putAndInsertOFStringArray(DCM_PageNumberVector, pages.c_str());
        }
        if (!plan.rgb) {
            ds->putAndInsertString(DCM_PresentationLUTShape, "IDENTITY");
            ds->putAndInsertString(DCM_RescaleType, "US");
        }
        putPixelModule(*ds, image, plan, 0, image.slices());
        if (!plan.rgb && plan.bitsAllocated == 8) {
            // Byte images carry no rescale.
            ds->putAndInsertString(DCM_RescaleIntercept, "0");
            ds->putAndInsertString(DCM_RescaleSlope, "1");
        }
        result.push_back(std::move(ds));
    }
    return result;
}

}  // namespace Dravelin::Dicom
