#pragma once

// Small DICOM fixtures written with DCMTK at test time (shared by the scanning and CLI tests).

#include "tests/support/DataFixtures.h"

#include <QString>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdicdir.h>
#include <dcmtk/dcmdata/dcdirrec.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <string>
#include <vector>

namespace Dravelin::Test {

struct ImageFields
{
    std::string patientId = "P1";
    std::string patientName = "DOE^JANE";
    std::string studyUid = "1.2.826.0.1.3680043.2.1125.1";
    std::string seriesUid = "1.2.826.0.1.3680043.2.1125.1.1";
    int instanceNumber = 1;
    double z = 0.0;
    std::string studyDate = "20240131";
    std::string studyTime = "101530.250";
    double pixelSpacing = 0.5;
};

// A 4x4 CT slice; returns false when DCMTK cannot write it.
inline bool writeImage(const QString& path, const ImageFields& fields)
{
    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    const std::string sop = fields.seriesUid + "." + std::to_string(fields.instanceNumber);
    const std::string position = "0\\0\\" + std::to_string(fields.z);
    const std::string spacing = std::to_string(fields.pixelSpacing) + "\\" + std::to_string(fields.pixelSpacing);
    ds->putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    ds->putAndInsertString(DCM_SOPInstanceUID, sop.c_str());
    ds->putAndInsertString(DCM_PatientID, fields.patientId.c_str());
    ds->putAndInsertString(DCM_PatientName, fields.patientName.c_str());
    ds->putAndInsertString(DCM_PatientSex, "F");
    ds->putAndInsertString(DCM_StudyInstanceUID, fields.studyUid.c_str());
    ds->putAndInsertString(DCM_StudyDate, fields.studyDate.c_str());
    ds->putAndInsertString(DCM_StudyTime, fields.studyTime.c_str());
    ds->putAndInsertString(DCM_SeriesInstanceUID, fields.seriesUid.c_str());
    ds->putAndInsertString(DCM_SeriesNumber, "3");
    ds->putAndInsertString(DCM_Modality, "CT");
    ds->putAndInsertString(DCM_ImageType, "ORIGINAL\\PRIMARY\\AXIAL");
    ds->putAndInsertString(DCM_InstanceNumber, std::to_string(fields.instanceNumber).c_str());
    ds->putAndInsertString(DCM_ImagePositionPatient, position.c_str());
    ds->putAndInsertString(DCM_ImageOrientationPatient, "1\\0\\0\\0\\1\\0");
    ds->putAndInsertString(DCM_PixelSpacing, spacing.c_str());
    putMonochromeImage(*ds, 4, 4, 16, 16);
    const Uint16 pixels[16] = {};
    ds->putAndInsertUint16Array(DCM_PixelData, pixels, 16);
    return file.saveFile(path.toUtf8().constData(), EXS_LittleEndianExplicit).good();
}

// One record of a hand-made DICOMDIR: type, a few attributes and children.
struct RecordFields
{
    E_DirRecType type = ERT_Patient;
    std::vector<std::pair<DcmTagKey, std::string>> values;
    std::vector<RecordFields> children;
};

inline void addRecords(DcmDirectoryRecord& parent, const std::vector<RecordFields>& fieldSets)
{
    for (const RecordFields& fields : fieldSets) {
        auto* record = new DcmDirectoryRecord(fields.type, nullptr, OFFilename());
        for (const auto& [tag, value] : fields.values)
            record->putAndInsertString(tag, value.c_str());
        parent.insertSub(record);
        addRecords(*record, fields.children);
    }
}

// Writes a DICOMDIR with the given root records (no checks on file IDs: hostile ones are the point).
inline bool writeDicomDir(const QString& path, const std::vector<RecordFields>& roots)
{
    DcmDicomDir dir(OFFilename(path.toUtf8().constData()), "TESTSET");
    addRecords(dir.getRootRecord(), roots);
    return dir.write().good();
}

inline RecordFields imageRecord(const std::string& fileId, const std::string& instanceNumber = "1")
{
    RecordFields r{ERT_Image, {{DCM_InstanceNumber, instanceNumber}}, {}};
    if (!fileId.empty())
        r.values.push_back({DCM_ReferencedFileID, fileId});
    return r;
}

}  // namespace Dravelin::Test
