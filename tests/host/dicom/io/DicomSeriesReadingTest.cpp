#include "host/app/GlobalSettings.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "host/dicom/io/DicomVolumeReader.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QSettings>
#include <QString>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

using namespace Dravelin::Dicom;
namespace T = Dravelin::Test;

namespace {

constexpr int kColumns = 8, kRows = 6;

std::string text(const Eigen::Vector3d& v)
{
    return std::to_string(v.x()) + "\\" + std::to_string(v.y()) + "\\" + std::to_string(v.z());
}

// One CT slice whose stored values are `base` + column; `edit` may change it before saving.
void writeSlice(const QString& path, const std::string& series, const Eigen::Vector3d& position,
                const Eigen::Vector3d& row, const Eigen::Vector3d& column, int base, int instance = 1,
                const std::function<void(DcmDataset&)>& edit = {}, E_TransferSyntax xfer = EXS_LittleEndianExplicit)
{
    DcmFileFormat file;
    DcmDataset& ds = *file.getDataset();
    char uid[100];
    ds.putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    ds.putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid));
    ds.putAndInsertString(DCM_SeriesInstanceUID, series.c_str());
    ds.putAndInsertString(DCM_Modality, "CT");
    ds.putAndInsertString(DCM_InstanceNumber, std::to_string(instance).c_str());
    ds.putAndInsertString(DCM_ImagePositionPatient, text(position).c_str());
    ds.putAndInsertString(DCM_ImageOrientationPatient, (text(row) + "\\" + text(column)).c_str());
    ds.putAndInsertString(DCM_PixelSpacing, "0.5\\0.7");
    ds.putAndInsertString(DCM_RescaleIntercept, "-1024");
    ds.putAndInsertString(DCM_RescaleSlope, "1");
    T::putMonochromeImage(ds, kRows, kColumns, 16, 12);
    std::vector<Uint16> pixels(kRows * kColumns);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<Uint16>(base + int(i) % kColumns);
    ds.putAndInsertUint16Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()));
    if (edit)
        edit(ds);
    ASSERT_TRUE(file.saveFile(path.toStdString().c_str(), xfer).good());
}

// Leaves the file readable but its pixels not: native data cut short, compressed data scribbled
// over after the first marker.
void spoilPixels(const QString& path)
{
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(path.toStdString().c_str()).good());
    DcmDataset& ds = *file.getDataset();
    const E_TransferSyntax xfer = ds.getOriginalXfer();
    DcmElement* element = nullptr;
    ASSERT_TRUE(ds.findAndGetElement(DCM_PixelData, element).good());
    auto* pixels = static_cast<DcmPixelData*>(element);
    if (DcmXfer(xfer).isEncapsulated()) {
        E_TransferSyntax original = EXS_Unknown;
        const DcmRepresentationParameter* parameter = nullptr;
        pixels->getOriginalRepresentationKey(original, parameter);
        DcmPixelSequence* sequence = nullptr;
        DcmPixelItem* item = nullptr;
        Uint8* data = nullptr;
        ASSERT_TRUE(pixels->getEncapsulatedRepresentation(original, parameter, sequence).good());
        ASSERT_TRUE(sequence->getItem(item, 1).good() && item->getUint8Array(data).good());
        std::memset(data + 2, 0xAB, std::min<Uint32>(64, item->getLength() - 2));
    } else {
        ds.putAndInsertUint16Array(DCM_PixelData, std::vector<Uint16>(20).data(), 20);
    }
    ASSERT_TRUE(file.saveFile(path.toStdString().c_str(), xfer).good());
}

std::vector<LoadedImageSet> readFolder(const T::TempDir& dir, std::vector<Error>* errors = nullptr)
{
    DicomVolumeReader reader(std::make_shared<DatasetCache>(0));
    auto sets = reader.read(dir.path().toStdString(), nullptr);
    if (errors)
        *errors = reader.errors();
    return sets;
}

}  // namespace

// Slices written in shuffled order, tilted (the slice step is not along the normal of the
// oblique image plane): positions, directions and slice order must all come out right.
TEST(SeriesReading, TiltedObliqueSeriesGetsItsImageToWorldMatrix)
{
    T::TempDir dir;
    const Eigen::Matrix3d rotation = Eigen::AngleAxisd(0.4, Eigen::Vector3d(0.3, 1, 0.2).normalized()).matrix();
    const Eigen::Vector3d row = rotation.col(0), column = rotation.col(1);
    const Eigen::Vector3d step = rotation.col(2) * 2.5 + column * 0.6;  // gantry tilt
    const Eigen::Vector3d origin(-100, 20.5, 300);
    for (int k : {3, 0, 4, 1, 2})
        writeSlice(dir.file(QString("s%1.dcm").arg(k)), "1.2.3.9", origin + k * step, row, column, 100 * k, 5 - k);

    const auto sets = readFolder(dir);
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_EQ(sets[0].volumes.size(), 1u);
    const PixelVolume& v = sets[0].volumes[0];
    ASSERT_EQ(v.slices, 5);
    EXPECT_EQ(v.type, VoxelType::Int16);  // unsigned 12 bits with intercept -1024
    Eigen::Matrix4d m;
    for (int i = 0; i < 16; ++i)
        m(i / 4, i % 4) = v.imageToWorld[std::size_t(i)];
    for (int k = 0; k < 5; ++k) {
        const Eigen::Vector3d expected = origin + 3 * 0.7 * row + 2 * 0.5 * column + k * step;
        EXPECT_TRUE((m * Eigen::Vector4d(3, 2, k, 1)).head<3>().isApprox(expected, 1e-6)) << k;
        EXPECT_EQ(v.value(std::size_t(k) * kRows * kColumns + 3), 100 * k + 3 - 1024) << k;
    }
    EXPECT_NEAR(v.spacing[2], step.norm(), 1e-5);
}

TEST(SeriesReading, RepeatedPositionsBecomeATimeSeries)
{
    T::TempDir dir;
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < 3; ++k)
            writeSlice(dir.file(QString("t%1s%2.dcm").arg(t).arg(k)), "1.2.3.8", Eigen::Vector3d(0, 0, 4 * k),
                       Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(), 1000 * t + k, 3 * t + k + 1,
                       [t](DcmDataset& ds) { ds.putAndInsertString(DCM_TemporalPositionIdentifier, t ? "2" : "1"); });
    const auto sets = readFolder(dir);
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_EQ(sets[0].volumes.size(), 2u);
    EXPECT_EQ(sets[0].datasets.size(), 6u);
    for (int t = 0; t < 2; ++t)
        EXPECT_EQ(sets[0].volumes[std::size_t(t)].value(2 * kRows * kColumns), 1000 * t + 2 - 1024);
}

// Bad pixel data is a fatal error naming the file; its series is left out, the others load.
TEST(SeriesReading, UndecodablePixelDataFailsCleanly)
{
    struct Case
    {
        const char* name;
        std::function<void(DcmDataset&)> edit;
        E_TransferSyntax xfer;
    };
    const std::vector<Case> cases = {
        {"truncated",
         [](DcmDataset& ds) { ds.putAndInsertUint16Array(DCM_PixelData, std::vector<Uint16>(20).data(), 20); },
         EXS_LittleEndianExplicit},
        {"more frames than data", [](DcmDataset& ds) { ds.putAndInsertString(DCM_NumberOfFrames, "3"); },
         EXS_LittleEndianExplicit},
        {"garbage fragments",
         [](DcmDataset& ds) {
             DcmElement* element = nullptr;
             ds.findAndGetElement(DCM_PixelData, element);
             auto* sequence = new DcmPixelSequence(DcmTag(DCM_PixelData, EVR_OB));
             sequence->insert(new DcmPixelItem(DcmTag(DCM_Item, EVR_OB)));
             auto* fragment = new DcmPixelItem(DcmTag(DCM_Item, EVR_OB));
             std::vector<Uint8> junk(64, 0x5A);
             fragment->putUint8Array(junk.data(), 64);
             sequence->insert(fragment);
             static_cast<DcmPixelData*>(element)->putOriginalRepresentation(EXS_JPEGLSLossless, nullptr, sequence);
         },
         EXS_JPEGLSLossless},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        T::TempDir dir;
        for (int k = 0; k < 2; ++k)
            writeSlice(dir.file(QString("good%1.dcm").arg(k)), "1.2.3.1", Eigen::Vector3d(0, 0, k),
                       Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(), 10, k + 1);
        writeSlice(dir.file("bad1.dcm"), "1.2.3.2", Eigen::Vector3d(0, 0, 0), Eigen::Vector3d::UnitX(),
                   Eigen::Vector3d::UnitY(), 10, 1, c.edit, c.xfer);
        std::vector<Error> errors;
        const auto sets = readFolder(dir, &errors);
        ASSERT_EQ(sets.size(), 1u);
        EXPECT_EQ(sets[0].seriesInstanceUid, "1.2.3.1");
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back().type, Error::Fatal);
        EXPECT_NE(errors.back().message.find("bad1.dcm"), std::string::npos) << errors.back().message;
    }
}

// Slices at uneven steps along the normal are never taken as evenly spaced: every kept slice
// has its voxels at its true world position (tilted and oblique here), the planes between them
// are interpolated, or the series is split where the step changes; one warning names the series.
TEST(SeriesReading, UnevenlySpacedSlicesKeepTheirTruePositions)
{
    using Policy = DicomVolumeReader::IrregularSpacingPolicy;
    struct Case
    {
        const char* name;
        std::vector<double> positions;  // along the normal, one file each
        Policy policy;
        std::vector<int> slicesPerSet;
        const char* warning;  // part of the one warning, or empty for none
        double maxDeviation;
    };
    const std::vector<Case> cases = {
        {"missing slice", {0, 2.5, 5, 7.5, 12.5, 15}, Policy::Resample, {7}, "resampled onto a regular grid", 1.5},
        {"two zones", {0, 2.5, 5, 7.5, 10, 15, 20, 25}, Policy::Resample, {11}, "of 11 slices 2.5 mm apart", 4.2857},
        {"two zones, split",
         {0, 2.5, 5, 7.5, 10, 15, 20, 25},
         Policy::SplitIntoRegularParts,
         {5, 3},
         "split into 2 image sets",
         4.2857},
        {"duplicated position", {0, 2.5, 5, 5, 7.5}, Policy::Resample, {4}, "1 instance(s) left out", 0},
        {"jitter under the tolerance", {0, 2.504, 4.997, 7.502, 9.998, 12.5}, Policy::Resample, {6}, "", 0},
    };
    const Eigen::Matrix3d rotation = Eigen::AngleAxisd(0.4, Eigen::Vector3d(0.3, 1, 0.2).normalized()).matrix();
    const Eigen::Vector3d row = rotation.col(0), column = rotation.col(1), normal = rotation.col(2);
    const Eigen::Vector3d along = normal + column * 0.24;  // gantry tilt, per mm along the normal
    const Eigen::Vector3d origin(-100, 20.5, 300);
    const Eigen::Vector3d voxel = 3 * 0.7 * row + 2 * 0.5 * column;  // voxel (3, 2) of a slice
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        T::TempDir dir;
        const int n = int(c.positions.size());
        for (int k = n - 1; k >= 0; --k)
            writeSlice(dir.file(QString("s%1.dcm").arg(k)), "1.2.3.7", origin + c.positions[k] * along, row, column,
                       100 * (k + 1), k + 1);
        DicomVolumeReader reader(std::make_shared<DatasetCache>(0));
        reader.setIrregularSpacingPolicy(c.policy);
        const auto sets = reader.read(dir.path().toStdString(), nullptr);
        ASSERT_EQ(sets.size(), c.slicesPerSet.size());

        std::vector<Error> warnings;
        for (const Error& e : reader.errors())
            if (e.type == Error::Warning)
                warnings.push_back(e);
        ASSERT_EQ(warnings.size(), std::string(c.warning).empty() ? 0u : 1u);
        if (!warnings.empty()) {
            EXPECT_NE(warnings[0].message.find("1.2.3.7"), std::string::npos) << warnings[0].message;
            EXPECT_NE(warnings[0].message.find(c.warning), std::string::npos) << warnings[0].message;
        }
        // Every plane holds the stored values interpolated between the acquired slices around
        // it; an acquired slice lies on a plane exactly once.
        std::vector<std::pair<double, int>> kept;  // position and stored base: the first at a position
        for (int k = 0; k < n; ++k)
            if (kept.empty() || c.positions[std::size_t(k)] != kept.back().first)
                kept.emplace_back(c.positions[std::size_t(k)], 100 * (k + 1));
        std::vector<int> hits(kept.size(), 0);
        for (std::size_t s = 0; s < sets.size(); ++s) {
            EXPECT_NEAR(sets[s].irregularSpacing.value_or(IrregularSpacing{}).maxDeviationMm, c.maxDeviation, 1e-3);
            ASSERT_EQ(sets[s].volumes.size(), 1u);
            const PixelVolume& v = sets[s].volumes[0];
            ASSERT_EQ(v.slices, c.slicesPerSet[s]);
            EXPECT_EQ(sets[s].datasets.size(), std::size_t(v.slices));
            Eigen::Matrix4d m;
            for (int i = 0; i < 16; ++i)
                m(i / 4, i % 4) = v.imageToWorld[std::size_t(i)];
            for (int j = 0; j < v.slices; ++j) {
                const Eigen::Vector3d world = (m * Eigen::Vector4d(3, 2, j, 1)).head<3>() - origin - voxel;
                const double d = world.dot(normal);
                EXPECT_LT((world - d * along).norm(), 1e-4) << j;  // on the tilted line of slices
                std::size_t below = 0;
                while (below + 2 < kept.size() && kept[below + 1].first <= d + 0.01)
                    ++below;
                const auto [from, fromBase] = kept[below];
                const auto [to, toBase] = kept[below + 1];
                double expected = std::round(fromBase + (toBase - fromBase) * (d - from) / (to - from));
                if (std::abs(d - from) <= 0.01)
                    ++hits[below], expected = fromBase;
                else if (std::abs(d - to) <= 0.01)
                    ++hits[below + 1], expected = toBase;
                EXPECT_EQ(v.value(std::size_t(j) * kRows * kColumns + 2 * kColumns + 3), expected + 3 - 1024) << j;
            }
        }
        EXPECT_EQ(hits, std::vector<int>(kept.size(), 1));
    }
}

// The DICOM setting chooses the split; each part says which it is.
TEST(SeriesReading, SplitSettingLoadsOneNamedSetPerRegularPart)
{
    T::TempDir settings, dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    const QString key = Dravelin::GlobalSettings::settingsName<Dravelin::DicomPluginSettings>() + "/irregularSpacing";
    Dravelin::GlobalSettings::storeValue(key, Dravelin::DicomPluginSettings::SplitIntoParts);
    for (int k : {0, 1, 2, 4, 5})
        writeSlice(dir.file(QString("s%1.dcm").arg(k)), "1.2.3.6", Eigen::Vector3d(0, 0, 2.0 * k),
                   Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(), 10, k + 1);
    Dravelin::DicomIoAlgorithm algorithm;
    Dravelin::GlobalSettings::remove(key);
    algorithm.setLocation(dir.path());
    algorithm.compute();
    Dravelin::OwningDataList output = algorithm.takeOutput();
    ASSERT_EQ(output.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const auto* set = dynamic_cast<Dravelin::SharedImageSet*>(output[std::size_t(i)]);
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(set->get()->slices(), i == 0 ? 3 : 2);
        EXPECT_TRUE(set->name().endsWith(QString(" (part %1 of 2)").arg(i + 1))) << set->name().toStdString();
        EXPECT_TRUE(set->note().contains(QString("part %1 of 2").arg(i + 1))) << set->note().toStdString();
        const auto* spacing = set->getComponent<IrregularSpacingDataComponent>();
        ASSERT_NE(spacing, nullptr);
        EXPECT_EQ(spacing->spacing().parts, 2);
    }
}

// A loaded series is named as a user tells series apart: patient, modality and description.
TEST(SeriesReading, ASetIsNamedAfterPatientModalityAndDescription)
{
    struct Case
    {
        const char* patient;
        const char* description;
        QString name;
    };
    const Case cases[] = {{"Doe^Jane", "Head axial 2.5mm", QString::fromUtf8("Doe Jane \u2014 CT Head axial 2.5mm")},
                          {"", "Head", "CT Head"}};
    for (const Case& c : cases) {
        T::TempDir dir;
        for (int k : {0, 1})
            writeSlice(dir.file(QString("s%1.dcm").arg(k)), "1.2.3.7", Eigen::Vector3d(0, 0, 2.0 * k),
                       Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(), 10, k + 1, [&](DcmDataset& ds) {
                           ds.putAndInsertString(DCM_PatientName, c.patient);
                           ds.putAndInsertString(DCM_SeriesDescription, c.description);
                       });
        Dravelin::OwningDataList output = T::readDicom(dir.path());
        ASSERT_EQ(output.size(), 1u);
        EXPECT_EQ(output[0]->name(), c.name);
    }
}

// Slices (CT, one file each) and frames (secondary capture, one multi-frame file) decode side by
// side: for every lossless transfer syntax the volume is bit for bit the one a single thread
// decodes, and the values written; a slice that does not decode in the middle of the series is
// named with its reason and the set is left out.
TEST(SeriesReading, ParallelDecodingEqualsSerialDecodingForEveryTransferSyntax)
{
    constexpr int kSlices = 24;
    auto image = std::make_unique<Dravelin::SharedImage>(Dravelin::PixelType::Int16, 40, 30, kSlices);
    for (int z = 0; z < kSlices; ++z)
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                image->setValue(x, y, z, 0, ((x * 37 + y * 101 + z * 977) % 4000) - 1000);
    Dravelin::SharedImageSet set(std::move(image));
    const std::vector<int16_t> written(static_cast<const int16_t*>(set.get()->data()),
                                       static_cast<const int16_t*>(set.get()->data()) + 40 * 30 * kSlices);
    auto read = [](const T::TempDir& dir, int threads, std::vector<Error>& errors) {
        const int before = omp_get_max_threads();
        omp_set_num_threads(threads);
        DicomVolumeReader reader(std::make_shared<DatasetCache>(0));
        auto sets = reader.read(dir.path().toStdString(), nullptr);
        omp_set_num_threads(before);
        errors = reader.errors();
        return sets;
    };
    std::vector<std::pair<Compression, int>> cases;
    for (const Compression c :
         {Compression::ImplicitLittleEndian, Compression::ExplicitBigEndian, Compression::DeflatedLittleEndian,
          Compression::JpegLossless, Compression::JpegLsLossless, Compression::Jpeg2000Lossless})
        for (const int modality : {Dravelin::Data::ModalityCT, Dravelin::Data::ModalityPhoto})
            cases.emplace_back(c, modality);
    for (const auto& [c, modality] : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c)) + (modality == Dravelin::Data::ModalityCT ? " CT" : " SC"));
        set.setModality(modality);
        T::TempDir dir;
        Dravelin::DicomIoAlgorithm writer(Dravelin::DicomIoAlgorithm::Write);
        writer.setInput(Dravelin::DataList{&set});
        writer.setCompression(c);
        writer.setLocation(dir.path());
        writer.compute();
        ASSERT_EQ(writer.status(), 0);
        std::vector<Error> errors;
        const auto serial = read(dir, 1, errors);
        const auto parallel = read(dir, 4, errors);
        ASSERT_EQ(serial.size(), 1u);
        ASSERT_EQ(parallel.size(), 1u);
        const PixelVolume& a = serial[0].volumes.at(0);
        const PixelVolume& b = parallel[0].volumes.at(0);
        ASSERT_EQ(a.byteSize(), b.byteSize());
        EXPECT_EQ(std::memcmp(a.data(), b.data(), a.byteSize()), 0);
        ASSERT_EQ(b.slices, kSlices);
        for (std::size_t i = 0; i < written.size(); i += 97)
            ASSERT_EQ(b.value(i), written[i]) << i;
        if (modality != Dravelin::Data::ModalityCT)
            continue;

        spoilPixels(dir.file("IMG0013.dcm"));
        EXPECT_TRUE(read(dir, 4, errors).empty());
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back().type, Error::Fatal);
        EXPECT_NE(errors.back().message.find("IMG0013.dcm"), std::string::npos) << errors.back().message;
    }
}
