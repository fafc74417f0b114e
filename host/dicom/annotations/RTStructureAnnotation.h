#pragma once

#include "host/data/DataAnnotation.h"

namespace Dravelin::Dicom {

class RTStructureDataComponent;

// Draws one RT structure (a point cloud with an RTStructureDataComponent) as its contours, in
// the structure's display colour: closed planar contours as closed lines, open ones as open
// lines, point contours as markers.
class RTStructureAnnotation : public DataAnnotation
{
public:
    explicit RTStructureAnnotation(Data* data);
    ~RTStructureAnnotation() override;

    static bool isCompatible(const Data* data);

    QString typeName() const override;
    std::vector<Polyline> polylines() const override;
    std::vector<Eigen::Vector3d> points() const override;

private:
    const RTStructureDataComponent* structure() const;
};

}  // namespace Dravelin::Dicom
