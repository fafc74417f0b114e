#pragma once

#include "host/data/OwningDataList.h"
#include "host/data/PixelType.h"

#include <QString>

#include <memory>

class DcmItem;

namespace Dravelin {
class SharedImageSet;
}  // namespace Dravelin

namespace Dravelin::Test {

// An image set of one zero-filled image of the given size (depth 1: a 2D image), named `name`.
std::unique_ptr<SharedImageSet> imageSet(PixelType type, int width, int height, int depth = 1,
                                         const QString& name = QString());
// What the DICOM reader makes of `location` (a file, a folder, a DICOMDIR).
OwningDataList readDicom(const QString& location);
// The image pixel description of an unsigned, single-sample MONOCHROME2 image (no pixel data).
void putMonochromeImage(DcmItem& item, int rows, int columns, int bitsAllocated, int bitsStored);

}  // namespace Dravelin::Test
