#include "host/algorithms/RTStructureToLabelMap.h"

#include "host/core/Log.h"
#include "host/data/DataGroup.h"
#include "host/data/LabelTableDataComponent.h"
#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "host/vtk/LabelMapSurface.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace Dravelin {

namespace {

using Dicom::RTStructureDataComponent;

// Edges of the closed contours of one structure that fall on one slice, in voxel x/y.
struct SliceEdges
{
    std::vector<Eigen::Vector4d> edges;  // x0, y0, x1, y1
    double yMin = std::numeric_limits<double>::max();
    double yMax = std::numeric_limits<double>::lowest();
};

// Voxel coordinates beyond this lie off any grid; within it every conversion to int is exact
// and no sum or product of them overflows.
constexpr double kFarthestVoxel = 1e9;

std::map<int, SliceEdges> edgesBySlice(const RTStructureDataComponent& rt, const Eigen::Affine3d& worldToVoxel,
                                       int slices)
{
    std::map<int, SliceEdges> bySlice;
    for (const auto& contour : rt.contours) {
        const auto& points = contour.points();
        if (points.size() < 3 || contour.geometricType() != "CLOSED_PLANAR")
            continue;
        std::vector<Eigen::Vector3d> voxel;
        voxel.reserve(points.size());
        double z = 0.0;
        bool far = false;
        for (const auto& p : points) {
            voxel.push_back(worldToVoxel * p);
            z += voxel.back().z();
            far = far || !(voxel.back().cwiseAbs().maxCoeff() <= kFarthestVoxel);
        }
        if (far)
            continue;
        z /= static_cast<double>(voxel.size());
        // A contour drawn between two slices belongs to the nearer one.
        const long slice = std::lround(z);
        if (slice < 0 || slice >= slices)
            continue;
        SliceEdges& target = bySlice[static_cast<int>(slice)];
        for (std::size_t i = 0; i < voxel.size(); ++i) {
            const Eigen::Vector3d& a = voxel[i];
            const Eigen::Vector3d& b = voxel[(i + 1) % voxel.size()];
            if (a.y() == b.y())
                continue;  // a horizontal edge never crosses a row centre on its own
            target.edges.emplace_back(a.x(), a.y(), b.x(), b.y());
            target.yMin = std::min({target.yMin, a.y(), b.y()});
            target.yMax = std::max({target.yMax, a.y(), b.y()});
        }
    }
    return bySlice;
}

// Even-odd fill of one slice: row centres y = 0 .. height-1, voxel centres x inside a span.
// Returns the number of voxels set.
std::size_t fillSlice(const SliceEdges& slice, int width, int height, std::uint16_t label, std::uint16_t* plane)
{
    if (slice.edges.empty())
        return 0;
    const int rowFirst = std::max(0, static_cast<int>(std::ceil(slice.yMin)));
    const int rowLast = std::min(height - 1, static_cast<int>(std::floor(slice.yMax)));
    if (rowFirst > rowLast)
        return 0;
    std::size_t filled = 0;
    std::vector<std::vector<double>> crossings(static_cast<std::size_t>(rowLast - rowFirst + 1));
    for (const Eigen::Vector4d& e : slice.edges) {
        const double y0 = e[1], y1 = e[3];
        // Half-open in y, so a vertex shared by two edges is counted once.
        const int first = std::max(rowFirst, static_cast<int>(std::ceil(std::min(y0, y1))));
        int last = std::min(rowLast, static_cast<int>(std::ceil(std::max(y0, y1))) - 1);
        const double slope = (e[2] - e[0]) / (y1 - y0);
        for (int y = first; y <= last; ++y) {
            double x = e[0] + (y - y0) * slope;
            if (!std::isfinite(x))  // a nearly horizontal edge: its slope overflowed
                x = e[0] + (y - y0) / (y1 - y0) * (e[2] - e[0]);
            crossings[static_cast<std::size_t>(y - rowFirst)].push_back(x);
        }
    }
    for (int y = rowFirst; y <= rowLast; ++y) {
        auto& xs = crossings[static_cast<std::size_t>(y - rowFirst)];
        std::sort(xs.begin(), xs.end());
        std::uint16_t* row = plane + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (std::size_t i = 0; i + 1 < xs.size(); i += 2) {
            const double from = std::max(0.0, std::ceil(xs[i]));
            const double to = std::min(static_cast<double>(width), std::ceil(xs[i + 1]));
            for (int x = static_cast<int>(from); x < static_cast<int>(to); ++x)
                row[x] = label;
            filled += static_cast<std::size_t>(std::max(0, static_cast<int>(to) - static_cast<int>(from)));
        }
    }
    return filled;
}

bool isFillable(const RTStructureDataComponent::Contour& contour)
{
    return contour.points().size() >= 3 && contour.geometricType() == "CLOSED_PLANAR";
}

// The voxel value of each ROI: its number when that is a label of its own, else the smallest
// label that no ROI number of the input claims, so that no two ROIs share a value. Empty when
// the ROIs outnumber the labels.
std::vector<std::uint16_t> assignLabels(const std::vector<const RTStructureDataComponent*>& rois)
{
    constexpr int kLabels = 65536;
    const auto own = [](int n) { return n >= 1 && n < kLabels; };
    std::vector<bool> taken(kLabels, false);
    taken[0] = true;  // the background
    for (const auto* rt : rois)
        if (own(rt->roiNumber))
            taken[static_cast<std::size_t>(rt->roiNumber)] = true;
    std::vector<std::uint16_t> labels(rois.size(), 0);
    std::vector<bool> given(kLabels, false);
    for (std::size_t i = 0; i < rois.size(); ++i)
        if (const int n = rois[i]->roiNumber; own(n) && !given[static_cast<std::size_t>(n)]) {
            labels[i] = static_cast<std::uint16_t>(n);
            given[static_cast<std::size_t>(n)] = true;
        }
    int next = 1;
    for (std::uint16_t& label : labels) {
        if (label != 0)
            continue;
        while (next < kLabels && taken[static_cast<std::size_t>(next)])
            ++next;
        if (next == kLabels)
            return {};
        taken[static_cast<std::size_t>(next)] = true;
        label = static_cast<std::uint16_t>(next);
    }
    return labels;
}

// Why a ROI put no voxel into the map, in the user's words.
std::string whyEmpty(const RTStructureDataComponent& rt, bool onGrid, std::size_t filled)
{
    if (rt.contours.empty())
        return "it has no contours";
    if (std::none_of(rt.contours.begin(), rt.contours.end(), isFillable)) {
        std::vector<std::string> types;
        for (const auto& c : rt.contours) {
            const std::string type = c.geometricType().empty() ? std::string("untyped") : c.geometricType();
            if (std::find(types.begin(), types.end(), type) == types.end())
                types.push_back(type);
        }
        std::string list;
        for (const std::string& t : types)
            list += (list.empty() ? "" : ", ") + t;
        return "its contours are " + list + "; only closed contours of three or more points are filled";
    }
    if (!onGrid)
        return "its contours lie outside the reference volume";
    if (filled == 0)
        return "no voxel centre of the reference lies inside its contours";
    return "ROIs later in the input cover it";
}

void collectStructures(Data* data, std::vector<PointCloud*>& out)
{
    if (auto* cloud = dynamic_cast<PointCloud*>(data)) {
        if (cloud->hasComponent<RTStructureDataComponent>())
            out.push_back(cloud);
    } else if (auto* group = dynamic_cast<DataGroup*>(data)) {
        for (Data* child : group->descendants())
            collectStructures(child, out);
    }
}

}  // namespace

RTStructureToLabelMap::RTStructureToLabelMap(std::vector<PointCloud*> structures, SharedImageSet* reference)
    : m_structures(std::move(structures)), m_reference(reference)
{
    outputType.setAttribute(QStringLiteral("label"), QStringLiteral("Output"));
    outputType.setAttribute(QStringLiteral("values"), QStringLiteral("Label map|Mesh|Label map and mesh"));
    roiNumbers.setAttribute(QStringLiteral("label"), QStringLiteral("ROI numbers"));
    roiNumbers.setAttribute(QStringLiteral("tooltip"),
                            QStringLiteral("Comma-separated ROI numbers to convert; empty converts all"));
}

RTStructureToLabelMap::~RTStructureToLabelMap() = default;

bool RTStructureToLabelMap::createCompatible(const DataList& data, Algorithm** out)
{
    std::vector<PointCloud*> structures;
    SharedImageSet* reference = nullptr;
    for (Data* d : data.getAll()) {
        if (d->parentGroup() && data.contains(d->parentGroup()))
            continue;  // reached through its group
        collectStructures(d, structures);
        if (!reference && d->kind() == Data::KindVolume)
            reference = dynamic_cast<SharedImageSet*>(d);
    }
    if (structures.empty())
        return false;
    if (out)
        *out = new RTStructureToLabelMap(std::move(structures), reference);
    return true;
}

std::vector<const PointCloud*> RTStructureToLabelMap::selectedStructures() const
{
    const std::vector<int>& wanted = roiNumbers.value();
    std::vector<const PointCloud*> chosen;
    for (const PointCloud* cloud : m_structures) {
        const auto* rt = cloud ? cloud->getComponent<Dicom::RTStructureDataComponent>() : nullptr;
        if (!rt)
            continue;
        if (wanted.empty() || std::find(wanted.begin(), wanted.end(), rt->roiNumber) != wanted.end())
            chosen.push_back(cloud);
    }
    return chosen;
}

void RTStructureToLabelMap::compute()
{
    m_output.clear();
    m_outcomes.clear();
    const SharedImage* grid = m_reference ? m_reference->selected() : nullptr;
    if (!grid) {
        DRAVELIN_LOG(4, "", QStringLiteral("RTStructureToLabelMap: no reference volume"));
        setStatus(InvalidInput);
        return;
    }
    const std::vector<const PointCloud*> chosen = selectedStructures();
    if (chosen.empty()) {
        DRAVELIN_LOG(4, "", QStringLiteral("RTStructureToLabelMap: none of the chosen structures is in the input"));
        setStatus(InvalidInput);
        return;
    }
    std::unique_ptr<SharedImage> labels;
    try {
        labels = rasterize(chosen, *grid, &m_outcomes);
    } catch (const std::bad_alloc&) {
        setStatus(OutOfMemory);
        return;
    }
    if (!labels) {
        setStatus(InvalidInput);
        return;
    }
    logOutcomes();
    const QString baseName = chosen.size() == 1 ? chosen.front()->name() : m_reference->name();
    const OutputType type = outputType.value();
    if (type == OutputType::Mesh || type == OutputType::LabelMapAndMesh) {
        std::unique_ptr<Mesh> mesh = labelMapToMesh(*labels);
        if (mesh) {
            mesh->setName(baseName + QStringLiteral(" mesh"));
            m_output.add(std::move(mesh));
        }
    }
    if (type == OutputType::LabelMap || type == OutputType::LabelMapAndMesh) {
        auto set = std::make_unique<SharedImageSet>(std::move(labels));
        set->setName(baseName + QStringLiteral(" label map"));
        set->setModality(Data::ModalityLabel);
        // Outcomes follow the chosen structures in order: each label takes its structure's colour.
        auto table = std::make_unique<LabelTableDataComponent>();
        for (std::size_t i = 0; i < m_outcomes.size() && i < chosen.size(); ++i) {
            const auto* rt = chosen[i]->getComponent<Dicom::RTStructureDataComponent>();
            table->set(m_outcomes[i].label, {QString::fromStdString(m_outcomes[i].roiName),
                                             QColor::fromRgbF(rt->color.x(), rt->color.y(), rt->color.z())});
        }
        set->addComponent(std::move(table));
        m_output.add(std::move(set));
    }
    setStatus(m_output.empty() ? Error : Success);
}

void RTStructureToLabelMap::logOutcomes() const
{
    for (const RoiOutcome& o : m_outcomes) {
        const QString roi = QStringLiteral("ROI %1 '%2'").arg(o.roiNumber).arg(QString::fromStdString(o.roiName));
        if (o.label != o.roiNumber)
            DRAVELIN_LOG(3, "",
                         roi + QStringLiteral(" is labelled %1: labels run from 1 to 65535, one per ROI").arg(o.label));
        // A marker or an empty ROI is no surprise; closed contours that leave nothing are.
        if (o.voxels == 0)
            DRAVELIN_LOG(
                o.fillable ? 3 : 2, "",
                roi + QStringLiteral(" puts no voxel into the label map: ") + QString::fromStdString(o.whyEmpty));
    }
}

OwningDataList RTStructureToLabelMap::takeOutput()
{
    return std::move(m_output);
}

std::unique_ptr<SharedImage> RTStructureToLabelMap::rasterize(const std::vector<const PointCloud*>& structures,
                                                              const SharedImage& reference,
                                                              std::vector<RoiOutcome>* outcomes)
{
    if (reference.channels() != 1)
        return nullptr;
    auto labels =
        std::make_unique<SharedImage>(PixelType::UInt16, reference.width(), reference.height(), reference.slices());
    labels->setSpacing(reference.spacing());
    labels->setImageToWorld(reference.imageToWorld());
    const Eigen::Affine3d worldToVoxel = reference.worldToVoxel();
    const int width = labels->width(), height = labels->height(), slices = labels->slices();
    const std::size_t planeSize = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::uint16_t* voxels = labels->typedData<std::uint16_t>();
    // On each slice the structures are filled in input order, so that the later one wins where
    // they overlap. One thread: the fill is memory-bound and takes well under a millisecond per
    // structure, less than starting a thread team costs on a busy machine (measured).
    std::vector<std::map<int, SliceEdges>> perStructure;
    std::vector<const RTStructureDataComponent*> rois;
    for (const PointCloud* cloud : structures) {
        if (const auto* rt = cloud ? cloud->getComponent<Dicom::RTStructureDataComponent>() : nullptr) {
            rois.push_back(rt);
            perStructure.push_back(edgesBySlice(*rt, worldToVoxel, slices));
        }
    }
    const std::vector<std::uint16_t> labelOf = assignLabels(rois);
    if (labelOf.size() != rois.size()) {
        DRAVELIN_LOG(4, "",
                     QStringLiteral("RTStructureToLabelMap: %1 ROIs do not fit into 16-bit labels").arg(rois.size()));
        return nullptr;
    }
    std::vector<std::vector<std::pair<std::size_t, const SliceEdges*>>> bySlice(static_cast<std::size_t>(slices));
    for (std::size_t i = 0; i < perStructure.size(); ++i)
        for (const auto& [slice, edges] : perStructure[i])
            bySlice[static_cast<std::size_t>(slice)].emplace_back(i, &edges);
    std::vector<std::size_t> filled(rois.size(), 0);
    for (int z = 0; z < slices; ++z)
        for (const auto& [i, edges] : bySlice[static_cast<std::size_t>(z)])
            filled[i] += fillSlice(*edges, width, height, labelOf[i], voxels + planeSize * static_cast<std::size_t>(z));
    if (outcomes) {
        // Labels are unique, so what a ROI kept after the later ones is what holds its label.
        std::vector<std::size_t> histogram(65536, 0);
        for (std::size_t v = 0; v < labels->voxelCount(); ++v)
            ++histogram[voxels[v]];
        outcomes->clear();
        for (std::size_t i = 0; i < rois.size(); ++i) {
            RoiOutcome o;
            o.roiNumber = rois[i]->roiNumber;
            o.roiName = rois[i]->roiName;
            o.label = labelOf[i];
            o.voxels = histogram[labelOf[i]];
            o.fillable = std::any_of(rois[i]->contours.begin(), rois[i]->contours.end(), isFillable);
            if (o.voxels == 0)
                o.whyEmpty = whyEmpty(*rois[i], !perStructure[i].empty(), filled[i]);
            outcomes->push_back(std::move(o));
        }
    }
    return labels;
}

std::unique_ptr<Mesh> RTStructureToLabelMap::labelMapToMesh(const SharedImage& labels)
{
    return LabelMapSurface::extract(labels);
}

}  // namespace Dravelin
