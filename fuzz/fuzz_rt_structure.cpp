// The RT structure reader and the label-map fill: every ROI of the structure set filled onto a
// small grid (odd coordinate counts, NaN, huge coordinates, many points, missing references).
#include "fuzz/FuzzDataset.h"
#include "fuzz/FuzzSetup.h"
#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/data/DataGroup.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImage.h"
#include "host/dicom/io/RTStructureReader.h"

#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dravelinFuzzSetup();
    auto file = std::make_shared<DcmFileFormat>();
    if (!dravelinFuzzParse(data, size, *file))
        return 0;
    const std::shared_ptr<DcmDataset> dataset(file, file->getDataset());
    std::vector<Dravelin::Dicom::Error> errors;
    const auto groups = Dravelin::Dicom::RTStructureReader::read({dataset}, errors);
    std::vector<const Dravelin::PointCloud*> structures;
    for (const auto& group : groups)
        for (const auto& child : group->children())
            if (const auto* cloud = dynamic_cast<const Dravelin::PointCloud*>(child.get()))
                structures.push_back(cloud);
    if (structures.empty())
        return 0;
    // 2 mm voxels around the origin, as the generator's phantoms lie.
    static const auto grid = [] {
        auto image = std::make_unique<Dravelin::SharedImage>(Dravelin::PixelType::UInt16, 40, 40, 12);
        image->setSpacing(Eigen::Vector3d(2, 2, 2));
        Eigen::Affine3d toWorld = Eigen::Affine3d::Identity();
        toWorld.linear() = Eigen::Vector3d(2, 2, 2).asDiagonal();
        toWorld.translation() = Eigen::Vector3d(-39, -39, -11);
        image->setImageToWorld(toWorld);
        return image;
    }();
    std::vector<Dravelin::RTStructureToLabelMap::RoiOutcome> outcomes;
    Dravelin::RTStructureToLabelMap::rasterize(structures, *grid, &outcomes);
    return 0;
}
