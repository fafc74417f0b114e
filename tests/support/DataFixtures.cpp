#include "tests/support/DataFixtures.h"

#include "host/data/SharedImageSet.h"
#include "host/dicom/io/DicomIoAlgorithm.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

namespace Dravelin::Test {

std::unique_ptr<SharedImageSet> imageSet(PixelType type, int width, int height, int depth, const QString& name)
{
    auto set = std::make_unique<SharedImageSet>(std::make_unique<SharedImage>(type, width, height, depth));
    if (!name.isEmpty())
        set->setName(name);
    return set;
}

OwningDataList readDicom(const QString& location)
{
    DicomIoAlgorithm reader;
    reader.setLocation(location);
    reader.compute();
    return reader.takeOutput();
}

void putMonochromeImage(DcmItem& item, int rows, int columns, int bitsAllocated, int bitsStored)
{
    item.putAndInsertUint16(DCM_Rows, Uint16(rows));
    item.putAndInsertUint16(DCM_Columns, Uint16(columns));
    item.putAndInsertUint16(DCM_SamplesPerPixel, 1);
    item.putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    item.putAndInsertUint16(DCM_BitsAllocated, Uint16(bitsAllocated));
    item.putAndInsertUint16(DCM_BitsStored, Uint16(bitsStored));
    item.putAndInsertUint16(DCM_HighBit, Uint16(bitsStored - 1));
    item.putAndInsertUint16(DCM_PixelRepresentation, 0);
}

}  // namespace Dravelin::Test
