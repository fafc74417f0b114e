#include "tests/support/CliRun.h"
#include "tests/support/RtPhantom.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace T = Dravelin::Test;

TEST(RtLabelMapCommand, WritesChosenRoisAsNrrdWithGeometryAndMeshAsStl)
{
    const QDir phantom(T::rtPhantomDir());
    T::TempDir out;
    const T::CliResult r = T::runCli({"rt-labelmap", phantom.filePath("rtstruct.dcm"), phantom.filePath("ct"),
                                      out.file("labels.nrrd"), "--roi", "2", "--mesh", out.file("box.stl")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QByteArray bytes = T::readFile(out.file("labels.nrrd"));
    const int end = bytes.indexOf("\n\n");
    const QString header = QString::fromLatin1(bytes.left(end));
    EXPECT_TRUE(header.contains("sizes: 128 128 40")) << header.toStdString();
    EXPECT_TRUE(header.contains("space directions: (1,0,0) (0,1,0) (0,0,2)")) << header.toStdString();
    EXPECT_TRUE(header.contains("space origin: (-63.5,-63.5,-39)")) << header.toStdString();
    const QByteArray body = bytes.mid(end + 2);
    ASSERT_EQ(body.size(), 128 * 128 * 40 * 2);
    const auto* voxels = reinterpret_cast<const quint16*>(body.constData());
    const auto count = [&](quint16 v) { return std::count(voxels, voxels + body.size() / 2, v); };
    EXPECT_EQ(count(2), (40 * 40 - 20 * 20 + 8 * 8) * 10);  // ten 2 mm slices of the box
    EXPECT_EQ(count(1) + count(3), 0);

    const QByteArray mesh = T::readFile(out.file("box.stl"));
    ASSERT_GE(mesh.size(), 84);
    const quint32 triangles = *reinterpret_cast<const quint32*>(mesh.constData() + 80);
    EXPECT_GT(triangles, 100u);
    EXPECT_EQ(mesh.size(), 84 + 50 * static_cast<int>(triangles));

    const T::CliResult unknown = T::runCli(
        {"rt-labelmap", phantom.filePath("rtstruct.dcm"), phantom.filePath("ct"), out.file("none.nrrd"), "--roi", "7"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_FALSE(QFile::exists(out.file("none.nrrd")));
}

TEST(RtLabelMapCommand, RoisThatFillNothingAreNamedAndCountAsMissingWhenAskedFor)
{
    // The phantom's structure set with three ROIs that fill nothing: 4 a marker, 5 an open line,
    // 6 never drawn.
    T::TempDir dir;
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(QDir(T::rtPhantomDir()).filePath("rtstruct.dcm").toStdString().c_str()).good());
    DcmDataset& ds = *file.getDataset();
    struct Extra
    {
        int number;
        const char* name;
        const char* type;
        const char* data;
    };
    for (const Extra& e :
         {Extra{4, "Isocentre", "POINT", "0\\0\\0"}, Extra{5, "Line", "OPEN_PLANAR", "0\\0\\0\\9\\0\\0\\9\\9\\0"},
          Extra{6, "Not drawn", nullptr, nullptr}}) {
        DcmItem* roi = nullptr;
        DcmItem* roiContour = nullptr;
        ASSERT_TRUE(ds.findOrCreateSequenceItem(DCM_StructureSetROISequence, roi, -2).good());
        ASSERT_TRUE(ds.findOrCreateSequenceItem(DCM_ROIContourSequence, roiContour, -2).good());
        roi->putAndInsertString(DCM_ROINumber, std::to_string(e.number).c_str());
        roi->putAndInsertString(DCM_ROIName, e.name);
        roiContour->putAndInsertString(DCM_ReferencedROINumber, std::to_string(e.number).c_str());
        DcmItem* contour = nullptr;
        if (e.type && roiContour->findOrCreateSequenceItem(DCM_ContourSequence, contour, -2).good()) {
            contour->putAndInsertString(DCM_ContourGeometricType, e.type);
            contour->putAndInsertString(DCM_ContourData, e.data);
        }
    }
    ASSERT_TRUE(file.saveFile(dir.file("rtstruct.dcm").toStdString().c_str(), EXS_LittleEndianExplicit).good());

    struct Case
    {
        QString rois;
        int exitCode;  // 2: nothing written
        QStringList named;
    };
    const Case cases[] = {
        {"4", 2, {"ROI 4 'Isocentre': nothing written, its contours are POINT"}},
        {"6", 2, {"ROI 6 'Not drawn': nothing written, it has no contours"}},
        {"2,5", 1, {"ROI 5 'Line': nothing written, its contours are OPEN_PLANAR"}},
        {"", 0, {"ROI 4 'Isocentre'", "ROI 5 'Line'", "ROI 6 'Not drawn'"}},
    };
    for (const Case& c : cases) {
        const QString out = dir.file("labels" + QString(c.rois).remove(',') + ".nrrd");
        QStringList args{"rt-labelmap", dir.file("rtstruct.dcm"), QDir(T::rtPhantomDir()).filePath("ct"), out};
        if (!c.rois.isEmpty())
            args << "--roi" << c.rois;
        const T::CliResult r = T::runCli(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.rois.toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(QFile::exists(out), c.exitCode != 2) << c.rois.toStdString();
        for (const QString& line : c.named)
            EXPECT_TRUE(r.err.contains(line)) << c.rois.toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(r.errLines().size(), c.named.size() + (c.exitCode == 2 ? 1 : 0)) << r.err.toStdString();
    }
}

// A CT with a slice missing inside the sphere: `load` warns and resamples it onto its 2 mm grid,
// and the label map made on it matches the analytic sphere.
TEST(RtLabelMapCommand, CtWithAMissingSliceIsResampledAndItsLabelsMatchTheSphere)
{
    const QDir phantom(T::rtPhantomDir());
    T::TempDir ct, out;
    for (const QString& name : QDir(phantom.filePath("ct")).entryList(QDir::Files))
        if (name != "0021.dcm") {  // z = 1 mm
            ASSERT_TRUE(QFile::copy(phantom.filePath("ct/" + name), ct.file(name)));
        }
    const T::CliResult load = T::runCli({"load", ct.path(), "--json"});
    ASSERT_EQ(load.exitCode, 0) << load.err.toStdString();
    EXPECT_TRUE(load.err.contains("warning: Series 'Planning CT'")) << load.err.toStdString();
    EXPECT_TRUE(load.err.contains("resampled onto a regular grid of 40 slices 2 mm apart")) << load.err.toStdString();
    const QJsonObject set = QJsonDocument::fromJson(load.out.toUtf8())["imageSets"][0].toObject();
    EXPECT_NEAR(set["irregularSpacing"]["maxDeviationMm"].toDouble(), 1.0, 1e-9);
    EXPECT_EQ(set["irregularSpacing"]["resampledStepMm"].toDouble(), 2.0);
    EXPECT_EQ(set["images"][0]["slices"].toInt(), 40);

    const T::CliResult r =
        T::runCli({"rt-labelmap", phantom.filePath("rtstruct.dcm"), ct.path(), out.file("sphere.nrrd"), "--roi", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray bytes = T::readFile(out.file("sphere.nrrd"));
    const int end = bytes.indexOf("\n\n");
    const QString header = QString::fromLatin1(bytes.left(end));
    std::vector<double> numbers;  // sizes, directions, origin
    for (const char* field : {"sizes: ", "space directions: ", "space origin: "}) {
        const QString line = header.section(field, 1).section('\n', 0, 0);
        for (const QString& n : line.split(QRegularExpression("[^-0-9.e]+"), Qt::SkipEmptyParts))
            numbers.push_back(n.toDouble());
    }
    ASSERT_EQ(numbers.size(), 15u) << header.toStdString();
    const int nx = int(numbers[0]), ny = int(numbers[1]), nz = int(numbers[2]);
    const auto* voxels = reinterpret_cast<const quint16*>(bytes.constData() + end + 2);
    ASSERT_EQ(bytes.size() - end - 2, nx * ny * nz * 2);
    long both = 0, labelled = 0, inside = 0;
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                double p[3];
                for (int a = 0; a < 3; ++a)
                    p[a] = numbers[12 + a] + i * numbers[3 + a] + j * numbers[6 + a] + k * numbers[9 + a];
                const bool in = (p[0] + 35) * (p[0] + 35) + (p[1] + 35) * (p[1] + 35) + p[2] * p[2] < 400;
                const bool label = voxels[(std::size_t(k) * ny + j) * nx + i] == 1;
                both += in && label;
                labelled += label;
                inside += in;
            }
    const double dice = 2.0 * double(both) / double(labelled + inside);
    std::printf("Dice against the analytic sphere: %.4f\n", dice);
    EXPECT_GE(dice, 0.98);
}
