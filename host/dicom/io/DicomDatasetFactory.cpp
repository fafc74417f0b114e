#include "host/dicom/io/DicomDatasetFactory.h"

#include "host/data/SharedImageSet.h"
#include "host/dicom/components/TagStoreDataComponent.h"
#include "host/dicom/io/IOD_Registry.h"
#include "host/dicom/io/PixelPlan.h"

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
                             DCM_Laterality,
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
                             DCM_SequenceName,
                             DCM_DoseUnits,
                             DCM_DoseType,
                             DCM_DoseSummationType,
                             DCM_ReferencedRTPlanSequence,
                             DCM_TissueHeterogeneityCorrection};

// Type 2 attributes (present, possibly empty) of every written instance.
const DcmTagKey kAlwaysPresent[] = {
    DCM_PatientName,       DCM_PatientID,    DCM_PatientBirthDate,       DCM_PatientSex,
    DCM_StudyDate,         DCM_StudyTime,    DCM_ReferringPhysicianName, DCM_StudyID,
    DCM_AccessionNumber,   DCM_SeriesNumber, DCM_Manufacturer,           DCM_InstanceNumber,
    DCM_PatientOrientation};

// Body Part Examined terms of unpaired structures, whose series must not carry a Laterality.
const char kUnpairedBodyParts[] =
    " ABDOMEN ABDOMENPELVIS AORTA BACK BLADDER BRAIN CEREBELLUM CERVIX CHEST CHESTABDOMEN CHESTABDPELVIS"
    " CIRCLEOFWILLIS COCCYX COLON CORONARYARTERY CSPINE CTSPINE DUODENUM ESOPHAGUS FACE GALLBLADDER HEAD"
    " HEADNECK HEART ILEUM ILIUM JAW JEJUNUM LARYNX LIVER LSPINE LSSPINE MAXILLA MEDIASTINUM MOUTH NECK"
    " NECKCHEST NECKCHESTABDOMEN NECKCHESTABDPELV NOSE PANCREAS PELVIS PENIS PHARYNX PROSTATE RECTUM SCALP"
    " SKULL SPINE SPLEEN SSPINE STERNUM STOMACH THYMUS THYROID TLSPINE TONGUE TRACHEA TSPINE URETER URETHRA"
    " UTERUS VAGINA VULVA WHOLEBODY ";

// Laterality is required for paired body parts and may not be present for unpaired ones: without
// the source's value it is written empty (unknown) unless the body part is known to be unpaired.
void putLaterality(DcmDataset& ds)
{
    if (ds.tagExists(DCM_Laterality))
        return;
    OFString part;
    ds.findAndGetOFString(DCM_BodyPartExamined, part);
    if (part.empty() || !std::strstr(kUnpairedBodyParts, (" " + std::string(part.c_str()) + " ").c_str()))
        ds.insertEmptyElement(DCM_Laterality);
}

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
        case Data::ModalityRTDose: return "RTDOSE";
        default: return "OT";
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

DicomDatasetFactory::DicomDatasetFactory(const IOD_Registry* registry) : m_registry(registry) {}

void DicomDatasetFactory::setReferencedInstances(std::vector<std::pair<std::string, std::string>> instances)
{
    m_referenced = std::move(instances);
}

std::vector<std::shared_ptr<DcmDataset>> DicomDatasetFactory::create(const SharedImageSet& set, Error& error,
                                                                     PixelSource* pixels) const
{
    std::vector<std::shared_ptr<DcmDataset>> result;
    // The samples of each dataset, written now or, with `pixels`, when the writer asks for them.
    struct Samples
    {
        const SharedImage* image;
        PixelPlan plan;
        int first;
        int count;
    };
    auto deferred = std::make_shared<std::vector<Samples>>();
    auto putPixels = [&](DcmDataset& ds, const PixelPlan& plan, const SharedImage& image, int first, int count,
                         bool slopeOnly) {
        plan.writeAttributes(ds, image, slopeOnly);
        if (pixels)
            deferred->push_back({&image, plan, first, count});
        else
            plan.writePixels(ds, image, first, count);
    };
    if (set.empty()) {
        error = Error(Error::InvalidValue, Error::Fatal, "The image set holds no image");
        return result;
    }
    const auto* store = set.getComponent<TagStoreDataComponent>();
    const std::shared_ptr<DcmDataset> source = store ? store->dataset(0) : nullptr;
    const std::string modality = modalityCode(set, source.get());

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
        if (modality != "RTDOSE")  // RT Series has no Laterality
            putLaterality(ds);
        if (m_registry) {
            const WriteContext context{&set, image, m_referenced};
            for (const Extension* e : m_registry->extensions())
                if (e && e->isEnabled())
                    e->apply(ds, context);
        }
    };
    auto insertEmpty = [](DcmDataset& ds, std::initializer_list<DcmTagKey> keys) {
        for (const DcmTagKey& key : keys)
            if (!ds.tagExists(key))
                ds.insertEmptyElement(key);
    };
    // Image Plane: orientation, spacing and the position of slice k.
    auto putPlane = [](DcmDataset& ds, const SharedImage& image, int k) {
        const Eigen::Matrix3d rotation = image.imageToWorld().linear();
        const Eigen::Vector3d row = rotation.col(0).normalized();
        const Eigen::Vector3d column = rotation.col(1).normalized();
        const Eigen::Vector3d position = image.imageToWorld() * Eigen::Vector3d(0, 0, k * image.spacing().z());
        ds.putAndInsertString(DCM_ImagePositionPatient, decimals(position).c_str());
        ds.putAndInsertString(DCM_ImageOrientationPatient, (decimals(row) + "\\" + decimals(column)).c_str());
        ds.putAndInsertString(DCM_PixelSpacing,
                              (decimalString(image.spacing().y()) + "\\" + decimalString(image.spacing().x())).c_str());
        ds.putAndInsertString(DCM_SliceThickness, decimalString(image.spacing().z()).c_str());
        return row.cross(column).dot(position);
    };

    const bool grey = set.pixelType() != PixelType::RGB;
    const bool perSlice = (modality == "CT" || modality == "MR") && grey;
    const bool dose = modality == "RTDOSE" && grey;
    int instanceNumber = 1;
    for (int i = 0; i < set.size(); ++i) {
        const SharedImage& image = *set.get(i);
        if (image.width() > 65535 || image.height() > 65535) {
            error = Error(Error::NotSupported, Error::Fatal, "The image is too large for DICOM");
            return {};
        }
        if (perSlice) {
            // One plan for all slices keeps one pixel format in the series; only values that no
            // single rescale gives back are planned slice by slice (each slice its own rescale).
            const PixelPlan whole = PixelPlan::make(image, 0, image.slices(), false, false);
            for (int k = 0; k < image.slices(); ++k) {
                auto ds = std::make_shared<DcmDataset>();
                common(*ds, modality == "CT" ? UID_CTImageStorage : UID_MRImageStorage, instanceNumber++, i);
                if (!ds->tagExists(DCM_FrameOfReferenceUID))
                    ds->putAndInsertString(DCM_FrameOfReferenceUID, frameOfReference.c_str());
                insertEmpty(*ds, {DCM_PositionReferenceIndicator, DCM_PatientPosition});
                if (modality == "CT") {
                    insertEmpty(*ds, {DCM_KVP, DCM_AcquisitionNumber});
                } else {
                    if (!ds->tagExists(DCM_ScanningSequence))
                        ds->putAndInsertString(DCM_ScanningSequence, "RM");
                    if (!ds->tagExists(DCM_SequenceVariant))
                        ds->putAndInsertString(DCM_SequenceVariant, "NONE");
                    insertEmpty(*ds, {DCM_ScanOptions, DCM_MRAcquisitionType, DCM_EchoTime, DCM_EchoTrainLength,
                                      DCM_RepetitionTime});
                }
                const double location = putPlane(*ds, image, k);
                ds->putAndInsertString(DCM_SliceLocation, decimalString(location).c_str());
                const PixelPlan plan =
                    whole.kind() == PixelPlan::Kind::Float ? PixelPlan::make(image, k, 1, false, false) : whole;
                putPixels(*ds, plan, image, k, 1, false);
                result.push_back(std::move(ds));
            }
            continue;
        }
        if (dose) {
            // RT Dose holds 32-bit samples and scales them by Dose Grid Scaling alone.
            auto ds = std::make_shared<DcmDataset>();
            common(*ds, UID_RTDoseStorage, instanceNumber++, i);
            if (!ds->tagExists(DCM_FrameOfReferenceUID))
                ds->putAndInsertString(DCM_FrameOfReferenceUID, frameOfReference.c_str());
            insertEmpty(*ds, {DCM_PositionReferenceIndicator, DCM_OperatorsName});
            for (const auto& [key, value] : {std::pair{DCM_DoseUnits, "GY"}, std::pair{DCM_DoseType, "PHYSICAL"},
                                             std::pair{DCM_DoseSummationType, "PLAN"}})
                if (!ds->tagExists(key))
                    ds->putAndInsertString(key, value);
            putPlane(*ds, image, 0);
            ds->putAndInsertString(DCM_NumberOfFrames, std::to_string(image.slices()).c_str());
            ds->putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_GridFrameOffsetVector);
            std::string offsets;
            for (int k = 0; k < image.slices(); ++k)
                offsets += (k ? "\\" : "") + decimalString(k * image.spacing().z());
            ds->putAndInsertOFStringArray(DCM_GridFrameOffsetVector, offsets.c_str());
            putPixels(*ds, PixelPlan::make(image, 0, image.slices(), false, true), image, 0, image.slices(), true);
            result.push_back(std::move(ds));
            continue;
        }
        const PixelPlan plan = PixelPlan::make(image, 0, image.slices(), true, false);
        const char* sopClass = !grey                       ? UID_MultiframeTrueColorSecondaryCaptureImageStorage
                               : plan.bitsAllocated() == 8 ? UID_MultiframeGrayscaleByteSecondaryCaptureImageStorage
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
        if (grey) {
            ds->putAndInsertString(DCM_PresentationLUTShape, "IDENTITY");
            ds->putAndInsertString(DCM_RescaleType, "US");
        }
        putPixels(*ds, plan, image, 0, image.slices(), false);
        result.push_back(std::move(ds));
    }
    if (pixels)
        *pixels = [deferred](std::size_t index, DcmItem& ds) {
            const Samples& s = deferred->at(index);
            s.plan.writePixels(ds, *s.image, s.first, s.count);
        };
    return result;
}

}  // namespace Dravelin::Dicom
