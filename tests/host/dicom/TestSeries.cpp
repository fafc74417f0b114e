#include "tests/host/dicom/TestSeries.h"

#include "tests/support/DataFixtures.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <sstream>

namespace Dravelin::Test {

namespace {

std::string joined(const double* values, int n)
{
    std::ostringstream s;
    for (int i = 0; i < n; ++i)
        s << (i ? "\\" : "") << values[i];
    return s.str();
}

}  // namespace

bool writeSlice(const QString& path, const SliceFields& fields)
{
    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    char uid[100];
    ds->putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    ds->putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid));
    ds->putAndInsertString(DCM_StudyInstanceUID, "1.2.826.0.1.3680043.2.1143.9");
    ds->putAndInsertString(DCM_SeriesInstanceUID, fields.seriesUid.c_str());
    if (!fields.characterSet.empty())
        ds->putAndInsertString(DCM_SpecificCharacterSet, fields.characterSet.c_str());
    ds->putAndInsertString(DCM_PatientName, fields.patientName.c_str());
    ds->putAndInsertString(DCM_Modality, fields.modality.c_str());
    ds->putAndInsertString(DCM_InstanceNumber, std::to_string(fields.instanceNumber).c_str());
    if (fields.temporalPosition > 0)
        ds->putAndInsertString(DCM_TemporalPositionIdentifier, std::to_string(fields.temporalPosition).c_str());
    ds->putAndInsertString(DCM_ImageOrientationPatient, joined(fields.orientation.data(), 6).c_str());
    if (fields.withPosition)
        ds->putAndInsertString(DCM_ImagePositionPatient, joined(fields.position.data(), 3).c_str());
    if (!fields.pixelSpacing.empty())
        ds->putAndInsertString(DCM_PixelSpacing, fields.pixelSpacing.c_str());
    if (!fields.spacingBetweenSlices.empty())
        ds->putAndInsertString(DCM_SpacingBetweenSlices, fields.spacingBetweenSlices.c_str());
    if (fields.frames > 1)
        ds->putAndInsertString(DCM_NumberOfFrames, std::to_string(fields.frames).c_str());
    for (size_t i = 0; i < fields.framePositions.size(); ++i) {
        DcmItem* frame = nullptr;
        ds->findOrCreateSequenceItem(DCM_PerFrameFunctionalGroupsSequence, frame, static_cast<long>(i));
        DcmItem* plane = nullptr;
        if (frame && frame->findOrCreateSequenceItem(DCM_PlanePositionSequence, plane, 0).good())
            plane->putAndInsertString(DCM_ImagePositionPatient, joined(fields.framePositions[i].data(), 3).c_str());
    }
    putMonochromeImage(*ds, fields.rows, fields.columns, 16, 16);
    std::vector<Uint16> pixels(static_cast<size_t>(fields.rows) * fields.columns * fields.frames);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<Uint16>(fields.instanceNumber * 10 + i % 7);
    ds->putAndInsertUint16Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()));
    return file.saveFile(path.toUtf8().constData(), EXS_LittleEndianExplicit).good();
}

}  // namespace Dravelin::Test
