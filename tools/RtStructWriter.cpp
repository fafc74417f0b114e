#include "tools/RtStructWriter.h"

#include "tools/DatasetGenerator.h"
#include "tools/UidFactory.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

namespace Dravelin::Tools {

namespace {

enum UidKind { StudyUid = 1, SeriesUid, InstanceUid };
constexpr double kPixel = 1.0;
constexpr double kSlice = 2.0;
constexpr double kPi = 3.14159265358979323846;

using Polygon = std::vector<std::array<double, 2>>;

struct Roi
{
    int number;
    std::string name;
    std::array<int, 3> color;
    // The closed contours of slice plane z (mm), with the z to write them at.
    std::function<std::vector<Polygon>(double z, int slice, double& zOut)> contours;
};

Polygon circle(double cx, double cy, double r)
{
    Polygon p;
    const int n = 128;
    for (int i = 0; i < n; ++i)
        p.push_back({cx + r * std::cos(2 * kPi * i / n), cy + r * std::sin(2 * kPi * i / n)});
    return p;
}

Polygon square(double cx, double cy, double half)
{
    return {{cx - half, cy - half}, {cx + half, cy - half}, {cx + half, cy + half}, {cx - half, cy + half}};
}

std::string decimal(double v)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", v);
    return buffer;
}

std::vector<Roi> rois(int count, int slices, int size)
{
    std::vector<Roi> list;
    list.push_back({1, "Sphere", {255, 0, 0}, [](double z, int, double& zOut) {
                        zOut = z;
                        const double r2 = 20.0 * 20.0 - z * z;
                        return r2 > 0 ? std::vector<Polygon>{circle(-35, -35, std::sqrt(r2))} : std::vector<Polygon>{};
                    }});
    list.push_back({2, "Box with hole", {0, 255, 0}, [](double z, int, double& zOut) {
                        zOut = z;
                        if (std::abs(z) > 10.0)
                            return std::vector<Polygon>{};
                        return std::vector<Polygon>{square(25, 25, 20), square(25, 25, 10), square(25, 25, 4)};
                    }});
    list.push_back({3, "Every other slice", {0, 0, 255}, [slices](double z, int slice, double& zOut) {
                        zOut = z - 0.6;  // between slices, nearer to this one
                        const int first = slices / 2 - 10;
                        if (slice < first || slice >= first + 20 || (slice - first) % 2)
                            return std::vector<Polygon>{};
                        return std::vector<Polygon>{circle(-35, 35, 12)};
                    }});
    const double half = (slices - 1) * kSlice / 2;
    const double extent = (size - 1) * kPixel / 2;
    for (int n = 4; n <= count; ++n) {
        // Spheres of 5 to 15 mm on a spiral through the volume.
        const double radius = 5.0 + (n * 37 % 11);
        const double angle = n * 2.399963;
        const double reach = (extent - radius - 2) * (0.3 + 0.7 * ((n * 13) % 17) / 16.0);
        const double cx = reach * std::cos(angle), cy = reach * std::sin(angle);
        const double cz = -half + radius + (2 * half - 2 * radius) * ((n * 29) % 31) / 30.0;
        list.push_back({n,
                        "Sphere " + std::to_string(n),
                        {(n * 50) % 256, (n * 90) % 256, (n * 130) % 256},
                        [cx, cy, cz, radius](double z, int, double& zOut) {
                            zOut = z;
                            const double r2 = radius * radius - (z - cz) * (z - cz);
                            return r2 > 0 ? std::vector<Polygon>{circle(cx, cy, std::sqrt(r2))}
                                          : std::vector<Polygon>{};
                        }});
    }
    if (count < 3)
        list.resize(static_cast<std::size_t>(std::max(count, 1)));
    return list;
}

}  // namespace

bool RtStructWriter::write()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(fs::path(m_options.outDir) / "ct", ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s: %s\n", m_options.outDir.c_str(), ec.message().c_str());
        return false;
    }
    const UidFactory uids(19);
    const std::string study = uids.uid(StudyUid, {1});
    const std::string ctSeries = uids.uid(SeriesUid, {1, 1});
    const int size = m_options.size, slices = m_options.slices;
    const double corner = -(size - 1) * kPixel / 2;
    const double zFirst = -(slices - 1) * kSlice / 2;

    DatasetGenerator ct("CT", size, size);
    ct.setPatient("RT^Phantom", "RT001", "O", "19700101");
    ct.setStudy(study, "RT1", "20240301", "080000", "RT planning");
    ct.setSeries(ctSeries, 1, "Planning CT", "ORIGINAL\\PRIMARY\\AXIAL");
    ct.setSpacing(kPixel, kSlice);
    ct.setSpacingBetweenSlices(kSlice);
    std::vector<std::string> instances;
    for (int k = 0; k < slices; ++k) {
        instances.push_back(uids.uid(InstanceUid, {1, 1, k + 1}));
        ct.setInstance(instances.back(), k + 1, {corner, corner, zFirst + k * kSlice});
        ct.setPhantomPixels(k);
        char name[32];
        std::snprintf(name, sizeof name, "%04d.dcm", k + 1);
        if (!ct.save((fs::path(m_options.outDir) / "ct" / name).string()))
            return false;
    }

    DcmFileFormat file;
    DcmDataset& ds = *file.getDataset();
    auto put = [](DcmItem& item, const DcmTagKey& tag, const std::string& value) {
        item.putAndInsertString(tag, value.c_str());
    };
    put(ds, DCM_SOPClassUID, UID_RTStructureSetStorage);
    put(ds, DCM_SOPInstanceUID, uids.uid(InstanceUid, {1, 2, 1}));
    put(ds, DCM_Modality, "RTSTRUCT");
    put(ds, DCM_PatientName, "RT^Phantom");
    put(ds, DCM_PatientID, "RT001");
    put(ds, DCM_StudyInstanceUID, study);
    put(ds, DCM_StudyDate, "20240301");
    put(ds, DCM_StudyID, "RT1");
    put(ds, DCM_SeriesInstanceUID, uids.uid(SeriesUid, {1, 2}));
    put(ds, DCM_SeriesNumber, "2");
    put(ds, DCM_StructureSetLabel, "Phantom shapes");
    put(ds, DCM_StructureSetDate, "20240301");
    put(ds, DCM_StructureSetTime, "080000");
    DcmItem* frame = nullptr;
    ds.findOrCreateSequenceItem(DCM_ReferencedFrameOfReferenceSequence, frame, -2);
    put(*frame, DCM_FrameOfReferenceUID, "2.25.1");
    DcmItem* refStudy = nullptr;
    frame->findOrCreateSequenceItem(DCM_RTReferencedStudySequence, refStudy, -2);
    put(*refStudy, DCM_ReferencedSOPClassUID, "1.2.840.10008.3.1.2.3.1");
    put(*refStudy, DCM_ReferencedSOPInstanceUID, study);
    DcmItem* refSeries = nullptr;
    refStudy->findOrCreateSequenceItem(DCM_RTReferencedSeriesSequence, refSeries, -2);
    put(*refSeries, DCM_SeriesInstanceUID, ctSeries);
    for (const std::string& uid : instances) {
        DcmItem* image = nullptr;
        refSeries->findOrCreateSequenceItem(DCM_ContourImageSequence, image, -2);
        put(*image, DCM_ReferencedSOPClassUID, UID_CTImageStorage);
        put(*image, DCM_ReferencedSOPInstanceUID, uid);
    }
    for (const Roi& roi : rois(m_options.structures, slices, size)) {
        DcmItem* item = nullptr;
        ds.findOrCreateSequenceItem(DCM_StructureSetROISequence, item, -2);
        put(*item, DCM_ROINumber, std::to_string(roi.number));
        put(*item, DCM_ReferencedFrameOfReferenceUID, "2.25.1");
        put(*item, DCM_ROIName, roi.name);
        put(*item, DCM_ROIGenerationAlgorithm, "MANUAL");
        DcmItem* observation = nullptr;
        ds.findOrCreateSequenceItem(DCM_RTROIObservationsSequence, observation, -2);
        put(*observation, DCM_ObservationNumber, std::to_string(roi.number));
        put(*observation, DCM_ReferencedROINumber, std::to_string(roi.number));
        put(*observation, DCM_RTROIInterpretedType, "ORGAN");
        put(*observation, DCM_ROIInterpreter, "");
        DcmItem* contours = nullptr;
        ds.findOrCreateSequenceItem(DCM_ROIContourSequence, contours, -2);
        put(*contours, DCM_ROIDisplayColor,
            std::to_string(roi.color[0]) + "\\" + std::to_string(roi.color[1]) + "\\" + std::to_string(roi.color[2]));
        put(*contours, DCM_ReferencedROINumber, std::to_string(roi.number));
        int contourNumber = 0;
        for (int k = 0; k < slices; ++k) {
            double z = 0;
            for (const Polygon& polygon : roi.contours(zFirst + k * kSlice, k, z)) {
                DcmItem* contour = nullptr;
                contours->findOrCreateSequenceItem(DCM_ContourSequence, contour, -2);
                put(*contour, DCM_ContourNumber, std::to_string(++contourNumber));
                put(*contour, DCM_ContourGeometricType, "CLOSED_PLANAR");
                put(*contour, DCM_NumberOfContourPoints, std::to_string(polygon.size()));
                std::string data;
                for (const auto& p : polygon)
                    data += (data.empty() ? "" : "\\") + decimal(p[0]) + "\\" + decimal(p[1]) + "\\" + decimal(z);
                put(*contour, DCM_ContourData, data);
            }
        }
    }
    const std::string path = (fs::path(m_options.outDir) / "rtstruct.dcm").string();
    const std::string temporary = path + ".part";
    if (file.saveFile(temporary.c_str(), EXS_LittleEndianExplicit).bad() ||
        std::rename(temporary.c_str(), path.c_str())) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace Dravelin::Tools
