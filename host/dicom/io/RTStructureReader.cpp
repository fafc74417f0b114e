#include "host/dicom/io/RTStructureReader.h"

#include "host/data/DataGroup.h"
#include "host/data/PointCloud.h"
#include "host/dicom/Element.h"
#include "host/dicom/components/RTStructureDataComponent.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace Dravelin::Dicom {

namespace {

std::string text(DcmItem& item, const DcmTagKey& key)
{
    return Element<std::string>(item, key, ElementBase::Optional, true).value(std::string());
}

int number(DcmItem& item, const DcmTagKey& key)
{
    return Element<int>(item, key, ElementBase::Optional, true).value(0);
}

std::vector<DcmItem*> items(DcmItem& item, const DcmTagKey& key)
{
    std::vector<DcmItem*> result;
    DcmSequenceOfItems* sequence = nullptr;
    if (item.findAndGetSequence(key, sequence).good() && sequence)
        for (unsigned long i = 0; i < sequence->card(); ++i)
            result.push_back(sequence->getItem(i));
    return result;
}

// The series the structures were drawn on: the first one the frame of reference lists.
std::pair<std::string, std::string> referencedSeries(DcmDataset& dataset)
{
    for (DcmItem* frame : items(dataset, DCM_ReferencedFrameOfReferenceSequence)) {
        const std::string frameOfReference = text(*frame, DCM_FrameOfReferenceUID);
        for (DcmItem* study : items(*frame, DCM_RTReferencedStudySequence))
            for (DcmItem* series : items(*study, DCM_RTReferencedSeriesSequence))
                return {text(*series, DCM_SeriesInstanceUID), frameOfReference};
        return {std::string(), frameOfReference};
    }
    return {};
}

}  // namespace

std::vector<std::unique_ptr<DataGroup>> RTStructureReader::read(
    const std::vector<std::shared_ptr<DcmDataset>>& datasets, std::vector<Error>& errors)
{
    std::vector<std::unique_ptr<DataGroup>> result;
    for (const auto& pointer : datasets) {
        if (!pointer || text(*pointer, DCM_Modality) != "RTSTRUCT")
            continue;
        DcmDataset& dataset = *pointer;
        auto group = std::make_unique<DataGroup>();
        const std::string label = text(dataset, DCM_StructureSetLabel);
        group->setName(QString::fromStdString(label.empty() ? "RT Structure Set" : label));
        group->setModality(Data::ModalityRTStruct);
        const auto [seriesUid, frameOfReference] = referencedSeries(dataset);

        struct Roi
        {
            std::string name;
            std::string frameOfReference;
        };
        std::map<int, Roi> rois;
        for (DcmItem* roi : items(dataset, DCM_StructureSetROISequence))
            rois[number(*roi, DCM_ROINumber)] = {text(*roi, DCM_ROIName),
                                                 text(*roi, DCM_ReferencedFrameOfReferenceUID)};

        for (DcmItem* roiContour : items(dataset, DCM_ROIContourSequence)) {
            auto component = std::make_unique<RTStructureDataComponent>();
            component->roiNumber = number(*roiContour, DCM_ReferencedROINumber);
            const Roi& roi = rois[component->roiNumber];
            component->roiName = roi.name;
            component->referencedSeriesUid = seriesUid;
            component->referencedFrameOfReferenceUid =
                roi.frameOfReference.empty() ? frameOfReference : roi.frameOfReference;
            auto colour =
                Element<std::vector<int>>(*roiContour, DCM_ROIDisplayColor, ElementBase::Optional, true).get();
            if (colour && colour->size() >= 3)
                component->color = Eigen::Vector3d((*colour)[0], (*colour)[1], (*colour)[2]) / 255.0;
            auto cloud = std::make_unique<PointCloud>();
            const std::string where =
                "RT structure set '" + label + "', ROI " + std::to_string(component->roiNumber) + " '" + roi.name + "'";
            int contourNumber = 0;
            for (DcmItem* contour : items(*roiContour, DCM_ContourSequence)) {
                ++contourNumber;
                auto data = Element<std::vector<double>>(*contour, DCM_ContourData, ElementBase::Optional, true).get();
                std::string problem;
                if (!data)
                    problem = "has no readable ContourData";
                else if (data->size() % 3 != 0)
                    problem = "has " + std::to_string(data->size()) + " coordinates, which are no (x, y, z) points";
                else if (!std::all_of(data->begin(), data->end(), [](double v) { return std::isfinite(v); }))
                    problem = "has coordinates that are not finite numbers";
                if (!problem.empty()) {
                    errors.emplace_back(
                        Error::InvalidValue, Error::Warning,
                        where + ": contour " + std::to_string(contourNumber) + " " + problem + "; it is left out");
                    continue;
                }
                std::vector<Eigen::Vector3d> points;
                for (std::size_t i = 0; i + 2 < data->size(); i += 3)
                    points.emplace_back((*data)[i], (*data)[i + 1], (*data)[i + 2]);
                for (const auto& p : points)
                    cloud->addPoint(p);
                component->contours.emplace_back(std::move(points), text(*contour, DCM_ContourGeometricType));
            }
            cloud->setName(
                QString::fromStdString(roi.name.empty() ? "ROI " + std::to_string(component->roiNumber) : roi.name));
            cloud->setModality(Data::ModalityRTStruct);
            cloud->addComponent(std::move(component));
            group->add(std::move(cloud));
        }
        result.push_back(std::move(group));
    }
    return result;
}

}  // namespace Dravelin::Dicom
