#pragma once

#include "host/data/OwningDataList.h"

#include <QString>

namespace Dravelin {
class PointCloud;
class SharedImageSet;
}  // namespace Dravelin

namespace Dravelin::Test {

// The generator's RT phantom (`dravelin-gen-data rtstruct`), written once per test process:
// a 128 x 128 x 40 CT (1 mm pixels, 2 mm slices) and rtstruct.dcm with ROI 1 a sphere (radius
// 20 mm), ROI 2 a 40 x 40 x 20 mm box with a 20 x 20 mm hole holding an 8 x 8 mm island, ROI 3
// a cylinder (radius 12 mm) on every other slice of 20.
QString rtPhantomDir();

// The phantom loaded: the CT volume and the structure point clouds in ROI order.
struct RtPhantom
{
    OwningDataList ct;
    OwningDataList structureSet;
    SharedImageSet* volume = nullptr;
    std::vector<PointCloud*> structures;
};
// Empty members when loading failed.
RtPhantom loadRtPhantom();

}  // namespace Dravelin::Test
