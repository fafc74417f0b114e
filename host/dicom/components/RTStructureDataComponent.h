#pragma once

#include "host/data/DataComponent.h"

#include <Eigen/Core>

#include <string>
#include <vector>

namespace Dravelin {
class ImageInfoDataComponent;
}  // namespace Dravelin

namespace Dravelin::Dicom {

// One region of interest of an RT structure set, attached to the point cloud that holds all
// its contour points: its contours (in patient coordinates, mm), number, name, display colour
// and the image series and frame of reference it was drawn on.
class RTStructureDataComponent : public DataComponent
{
public:
    class Contour
    {
    public:
        Contour() = default;
        Contour(std::vector<Eigen::Vector3d> points, std::string geometricType)
            : m_points(std::move(points)), m_type(std::move(geometricType))
        {
        }
        std::vector<Eigen::Vector3d> extractPoints() const { return m_points; }
        const std::vector<Eigen::Vector3d>& points() const { return m_points; }
        // "CLOSED_PLANAR", "OPEN_PLANAR", "POINT", ...
        const std::string& geometricType() const { return m_type; }

    private:
        std::vector<Eigen::Vector3d> m_points;
        std::string m_type;
    };

    QString id() const override;
    std::unique_ptr<DataComponent> clone() const override;

    int roiNumber = 0;
    std::string roiName;
    Eigen::Vector3d color{1, 0, 0};  // red, green, blue in [0, 1]
    std::vector<Contour> contours;
    std::string referencedSeriesUid;
    std::string referencedFrameOfReferenceUid;

    // What the image set it belongs to carries as ImageInfoDataComponent::identifier().
    const std::string& referencedIdentifier() const { return referencedSeriesUid; }

    // How an image set fits as the grid of this ROI, from better to worse: the series it was
    // drawn on, another series in its frame of reference (the same patient coordinates), or
    // neither (another frame of reference, or one that is not known on either side).
    enum class ReferenceMatch { None = 0, FrameOfReference = 1, Series = 2 };
    ReferenceMatch matchOf(const ImageInfoDataComponent* info) const;
};

}  // namespace Dravelin::Dicom
