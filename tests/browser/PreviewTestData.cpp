#include "tests/browser/PreviewTestData.h"
#include "tests/support/DataFixtures.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <vector>

namespace Dravelin::Test {

namespace {

void putHeader(DcmDataset& ds, int frames, const QString& seriesUid)
{
    ds.putAndInsertString(DCM_PatientID, "MF1");
    ds.putAndInsertString(DCM_PatientName, "FRAMES^TEN");
    ds.putAndInsertString(DCM_StudyInstanceUID, "1.2.826.0.1.3680043.9.7001.1");
    ds.putAndInsertString(DCM_SeriesInstanceUID, seriesUid.toLatin1());
    ds.putAndInsertString(DCM_SOPInstanceUID, (seriesUid + ".1").toLatin1());
    ds.putAndInsertString(DCM_SOPClassUID, UID_MultiframeGrayscaleByteSecondaryCaptureImageStorage);
    ds.putAndInsertString(DCM_Modality, "OT");
    ds.putAndInsertString(DCM_InstanceNumber, "1");
    putMonochromeImage(ds, 16, 16, 8, 8);
    ds.putAndInsertString(DCM_NumberOfFrames, QByteArray::number(frames));
    ds.putAndInsertString(DCM_WindowCenter, "128");
    ds.putAndInsertString(DCM_WindowWidth, "256");
}

std::vector<Uint8> framePixels(int frames)
{
    std::vector<Uint8> pixels(static_cast<size_t>(16 * 16 * frames));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<Uint8>(25 * (i / 256));
    return pixels;
}

}  // namespace

std::shared_ptr<DcmDataset> makeMultiFrameDataset(int frames, const QString& seriesUid)
{
    auto ds = std::make_shared<DcmDataset>();
    putHeader(*ds, frames, seriesUid);
    const auto pixels = framePixels(frames);
    ds->putAndInsertUint8Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()));
    return ds;
}

bool writeMultiFrameFile(const QString& path, int frames, const QString& seriesUid)
{
    DcmFileFormat file(makeMultiFrameDataset(frames, seriesUid).get());
    return file.saveFile(path.toLocal8Bit().constData(), EXS_LittleEndianExplicit).good();
}

}  // namespace Dravelin::Test
