#pragma once

#include "host/app/Algorithm.h"
#include "host/properties/ListParameter.h"

#include <memory>
#include <vector>

namespace Dravelin {

class Mesh;
class PointCloud;
class SharedImage;
class SharedImageSet;

// What RTStructureToLabelMap produces (RTStructureToLabelMap::OutputType).
enum class RTStructureOutputType : int { LabelMap = 0, Mesh = 1, LabelMapAndMesh = 2 };
DRAVELIN_ENUM_PARAMETER(RTStructureOutputType)

// Turns RT structures (point clouds with a Dicom::RTStructureDataComponent) into a label map on
// the grid of a reference volume, a surface mesh, or both.
//
// Each closed planar contour is filled on the reference slice nearest to its plane; the
// contours of one structure on one slice are filled together with the even-odd rule, so a
// contour inside another cuts a hole and a contour inside that hole is an island again. A voxel
// belongs to a structure when its centre lies inside (no partial volume). The label of a voxel is
// the structure's ROI number; where structures overlap, the later one in the input wins.
class RTStructureToLabelMap : public Algorithm
{
public:
    using OutputType = RTStructureOutputType;

    // `structures` are not owned and must outlive compute(); null entries and point clouds
    // without RT structure data are ignored. The reference may be set later.
    explicit RTStructureToLabelMap(std::vector<PointCloud*> structures, SharedImageSet* reference = nullptr);
    ~RTStructureToLabelMap() override;

    // Input: at least one RT structure point cloud (directly or inside groups); an image set of
    // the volume kind in the list becomes the reference.
    static bool createCompatible(const DataList& data, Algorithm** out);

    void setReferenceVolume(SharedImageSet* reference) { m_reference = reference; }
    SharedImageSet* referenceVolume() const { return m_reference; }
    const std::vector<PointCloud*>& structures() const { return m_structures; }

    void compute() override;
    OwningDataList takeOutput() override;

    Parameter<OutputType> outputType{"outputType", OutputType::LabelMap, this};
    // ROI numbers to convert; empty converts every structure.
    Parameter<std::vector<int>> roiNumbers{"roiNumbers", {}, this};

    // The fill itself, for callers that manage their own data: the label map of `structures`
    // on the grid of `reference` (UInt16 voxels, the reference's geometry). Null when the
    // reference is not a usable grid.
    static std::unique_ptr<SharedImage> rasterize(const std::vector<const PointCloud*>& structures,
                                                  const SharedImage& reference);
    // The smoothed boundary surfaces of every non-zero label, in world coordinates. Empty mesh
    // when there is no label.
    static std::unique_ptr<Mesh> labelMapToMesh(const SharedImage& labels);

private:
    std::vector<const PointCloud*> selectedStructures() const;

    std::vector<PointCloud*> m_structures;
    SharedImageSet* m_reference = nullptr;
    OwningDataList m_output;
};

}  // namespace Dravelin
