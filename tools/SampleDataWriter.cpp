#include "tools/SampleDataWriter.h"

#include "tools/DatasetGenerator.h"
#include "tools/UidFactory.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <filesystem>

namespace Dravelin::Tools {

namespace {

enum UidKind { PatientUid = 1, StudyUid, SeriesUid, InstanceUid };
const char* const kOriginal = "ORIGINAL\\PRIMARY\\AXIAL";

}  // namespace

std::string SampleDataWriter::nextPath()
{
    return (std::filesystem::path(m_outDir) / ("img" + std::to_string(++m_count))).string();
}

bool SampleDataWriter::writeVolume(DatasetGenerator& generator, const UidFactory& uids, int patient, int slices,
                                   double corner, double spacing)
{
    for (int i = 1; i <= slices; ++i) {
        generator.setInstance(uids.uid(InstanceUid, {patient, 1, 1, i}), i, {corner, corner, spacing * (i - 1)});
        generator.setPhantomPixels(i * patient);
        if (!generator.save(nextPath()))
            return false;
    }
    return true;
}

int SampleDataWriter::write()
{
    std::error_code ec;
    std::filesystem::create_directories(m_outDir, ec);
    const UidFactory uids(20240131);
    bool ok = true;

    // Patient 1: a CT volume of 20 axial slices, 2.5 mm apart.
    DatasetGenerator ct("CT", 64, 64);
    ct.setPatient("Doe^Jane", "DRV-0001", "F", "19700101");
    ct.setStudy(uids.uid(StudyUid, {1, 1}), "S1", "20240131", "093000", "CT head");
    ct.setSeries(uids.uid(SeriesUid, {1, 1, 1}), 1, "Head axial 2.5mm", kOriginal);
    ct.setSpacing(0.7, 2.5);
    ok = writeVolume(ct, uids, 1, 20, -22.4, 2.5);

    // Patient 2: an MR series of 10 slices, a multi-frame MR volume and one 2D image.
    DatasetGenerator mr("MR", 64, 64);
    mr.setPatient("Roe^Richard", "DRV-0002", "M", "19651224");
    mr.setStudy(uids.uid(StudyUid, {2, 1}), "S2", "20240215", "141500.25", "MR brain");
    mr.setSeries(uids.uid(SeriesUid, {2, 1, 1}), 3, "T1 axial", kOriginal);
    mr.setSpacing(0.9, 4.0);
    ok = writeVolume(mr, uids, 2, 10, -28.8, 4.0) && ok;

    DatasetGenerator multiFrame("MR", 64, 64, 8);
    multiFrame.setPatient("Roe^Richard", "DRV-0002", "M", "19651224");
    multiFrame.setStudy(uids.uid(StudyUid, {2, 1}), "S2", "20240215", "141500.25", "MR brain");
    multiFrame.setSeries(uids.uid(SeriesUid, {2, 1, 2}), 4, "3D T2 multi-frame", kOriginal);
    multiFrame.setSpacing(1.0, 3.0);
    multiFrame.setSpacingBetweenSlices(3.0);
    multiFrame.setInstance(uids.uid(InstanceUid, {2, 1, 2, 1}), 1, {-32, -32, 0});
    ok = ok && multiFrame.save(nextPath());

    DatasetGenerator single("MR", 64, 64);
    single.setPatient("Roe^Richard", "DRV-0002", "M", "19651224");
    single.setStudy(uids.uid(StudyUid, {2, 1}), "S2", "20240215", "141500.25", "MR brain");
    single.setSeries(uids.uid(SeriesUid, {2, 1, 3}), 5, "Localizer", "DERIVED\\SECONDARY");
    single.setString(DCM_ImageOrientationPatient, "0\\1\\0\\0\\0\\-1");
    single.setInstance(uids.uid(InstanceUid, {2, 1, 3, 1}), 1, {0, -32, 32});
    ok = ok && single.save(nextPath());

    return ok ? m_count : -1;
}

}  // namespace Dravelin::Tools
