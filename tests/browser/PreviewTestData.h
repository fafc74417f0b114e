#pragma once

#include "host/dicom/DatasetCache.h"

#include <QString>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <memory>

namespace Dravelin::Test {

// A monochrome 8-bit image of `frames` 16x16 frames; frame k holds the value 25 * k, shown
// through a fixed window so that the value comes out unchanged.
std::shared_ptr<DcmDataset> makeMultiFrameDataset(int frames, const QString& seriesUid);
// Saves it as a DICOM file; false on failure.
bool writeMultiFrameFile(const QString& path, int frames, const QString& seriesUid);

}  // namespace Dravelin::Test
