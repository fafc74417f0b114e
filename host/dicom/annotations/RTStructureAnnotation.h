#pragma once

#include "host/data/DataAnnotation.h"

namespace Dravelin::Dicom {

// Draws one RT structure (a point cloud with an RTStructureDataComponent) in the views: its
// closed and open contours as lines, its point contours as markers, in the structure's colour.
// Slice views show each contour on the slice its plane lies in.
class RTStructureAnnotation : public DataAnnotation
{
public:
    explicit RTStructureAnnotation(Data* structure);
    ~RTStructureAnnotation() override;

    // For annotation factories: true for point clouds carrying RT structure data.
    static bool isCompatible(const Data* data);

    QString typeName() const override;
    std::vector<Polyline> polylines() const override;
    std::vector<Eigen::Vector3d> points() const override;
    std::optional<Eigen::AlignedBox3d> bounds() const override;
};

}  // namespace Dravelin::Dicom
