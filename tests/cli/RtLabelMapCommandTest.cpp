#include "tests/support/CliRun.h"
#include "tests/support/RtPhantom.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <gtest/gtest.h>

#include <algorithm>
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
