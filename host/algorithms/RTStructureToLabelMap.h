#pragma once

#include "host/app/Algorithm.h"
#include "host/properties/ListParameter.h"

#include <cstdint>
#include <memory>
#include <string>
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
// the structure's ROI number; where structures overlap, the later one in the input wins. A ROI
// whose number cannot be its own label (0 is the background, labels are 1 to 65535, and a number
// met twice belongs to the first) gets the smallest label that no ROI number of the input claims,
// and the log says so.
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

    // What one ROI put into the label map.
    struct RoiOutcome
    {
        int roiNumber = 0;
        std::string roiName;
        std::uint16_t label = 0;  // its voxel value
        std::size_t voxels = 0;   // voxels that hold its label in the map
        bool fillable = false;    // it has closed contours with at least three points
        std::string whyEmpty;     // when it has no voxel: the reason, for the user
    };
    // One per converted ROI in input order, after compute().
    const std::vector<RoiOutcome>& outcomes() const { return m_outcomes; }

    // The fill itself, for callers that manage their own data: the label map of `structures`
    // on the grid of `reference` (UInt16 voxels, the reference's geometry), and what each ROI
    // put into it when `outcomes` is given. Null when the reference is not a usable grid or
    // there are more ROIs than 16-bit labels.
    static std::unique_ptr<SharedImage> rasterize(const std::vector<const PointCloud*>& structures,
                                                  const SharedImage& reference,
                                                  std::vector<RoiOutcome>* outcomes = nullptr);
    // The smoothed boundary surfaces of every non-zero label, in world coordinates. Empty mesh
    // when there is no label.
    static std::unique_ptr<Mesh> labelMapToMesh(const SharedImage& labels);

private:
    std::vector<const PointCloud*> selectedStructures() const;
    void logOutcomes() const;

    std::vector<PointCloud*> m_structures;
    SharedImageSet* m_reference = nullptr;
    OwningDataList m_output;
    std::vector<RoiOutcome> m_outcomes;
};

}  // namespace Dravelin
