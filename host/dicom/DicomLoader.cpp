#include "host/dicom/DicomLoader.h"

#include "host/core/LocationString.h"
#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/Element.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <tuple>

namespace Dravelin {

namespace {

using Vec3 = std::array<double, 3>;

// Positions closer than this along the slice normal are one position (mm).
constexpr double kSamePosition = 0.01;

struct Instance
{
    std::string file;
    std::string seriesUid;
    std::string modality;
    int rows = 0;
    int columns = 0;
    int frames = 1;
    std::optional<std::array<double, 6>> orientation;
    std::optional<Vec3> position;
    std::optional<std::vector<double>> pixelSpacing;  // row spacing, column spacing
    std::optional<double> spacingBetweenSlices;
    std::vector<Vec3> framePositions;
    int temporalPosition = 0;
    double triggerTime = 0;
    int acquisitionNumber = 0;
    int instanceNumber = 0;
    size_t order = 0;
    double distance = 0;  // along the slice normal of its group
};

// Coordinates beyond a kilometre, infinite or not a number are no position: sorting by them
// would break the order's rules, and sums of them overflow.
bool usable(double v)
{
    return std::isfinite(v) && std::abs(v) <= 1e6;
}

std::optional<Vec3> vec3(const std::optional<std::vector<double>>& v)
{
    if (!v || v->size() < 3 || !std::all_of(v->begin(), v->begin() + 3, usable))
        return std::nullopt;
    return Vec3{(*v)[0], (*v)[1], (*v)[2]};
}

DcmItem* firstItem(DcmItem& item, const DcmTagKey& sequence, long index = 0)
{
    DcmItem* result = nullptr;
    if (item.findAndGetSequenceItem(sequence, result, index).bad())
        return nullptr;
    return result;
}

// Enhanced multi-frame objects keep geometry inside functional group macros.
void readFunctionalGroups(DcmDataset& dataset, Instance& instance)
{
    if (DcmItem* shared = firstItem(dataset, DCM_SharedFunctionalGroupsSequence)) {
        if (DcmItem* plane = firstItem(*shared, DCM_PlaneOrientationSequence); plane && !instance.orientation) {
            auto o = Dicom::Element<std::vector<double>>(*plane, DCM_ImageOrientationPatient,
                                                         Dicom::ElementBase::Optional, true)
                         .get();
            if (o && o->size() >= 6 && std::all_of(o->begin(), o->begin() + 6, usable))
                instance.orientation = std::array<double, 6>{(*o)[0], (*o)[1], (*o)[2], (*o)[3], (*o)[4], (*o)[5]};
        }
        if (DcmItem* measures = firstItem(*shared, DCM_PixelMeasuresSequence)) {
            if (!instance.pixelSpacing)
                instance.pixelSpacing =
                    Dicom::Element<std::vector<double>>(*measures, DCM_PixelSpacing, Dicom::ElementBase::Optional, true)
                        .get();
            if (!instance.spacingBetweenSlices)
                instance.spacingBetweenSlices =
                    Dicom::Element<double>(*measures, DCM_SpacingBetweenSlices, Dicom::ElementBase::Optional, true)
                        .get();
        }
    }
    DcmSequenceOfItems* perFrame = nullptr;
    if (dataset.findAndGetSequence(DCM_PerFrameFunctionalGroupsSequence, perFrame).bad() || !perFrame)
        return;
    for (unsigned long i = 0; i < perFrame->card(); ++i) {
        DcmItem* frame = perFrame->getItem(i);
        DcmItem* plane = frame ? firstItem(*frame, DCM_PlanePositionSequence) : nullptr;
        if (!plane)
            return;  // positions of some frames only are of no use
        auto p = vec3(
            Dicom::Element<std::vector<double>>(*plane, DCM_ImagePositionPatient, Dicom::ElementBase::Optional, true)
                .get());
        if (!p) {
            instance.framePositions.clear();
            return;
        }
        instance.framePositions.push_back(*p);
    }
}

Instance readInstance(DcmDataset& dataset, const std::string& file, size_t order)
{
    using namespace Dicom;
    Instance in;
    in.file = file;
    in.order = order;
    in.seriesUid = Element<std::string>(dataset, DCM_SeriesInstanceUID).value(std::string());
    in.modality = Element<std::string>(dataset, DCM_Modality).value(std::string());
    in.rows = Element<int>(dataset, DCM_Rows, ElementBase::Optional, true).value(0);
    in.columns = Element<int>(dataset, DCM_Columns, ElementBase::Optional, true).value(0);
    in.frames = std::max(1, Element<int>(dataset, DCM_NumberOfFrames, ElementBase::Optional, true).value(1));
    if (auto o = Element<std::vector<double>>(dataset, DCM_ImageOrientationPatient, ElementBase::Optional, true).get();
        o && o->size() >= 6 && std::all_of(o->begin(), o->begin() + 6, usable))
        in.orientation = std::array<double, 6>{(*o)[0], (*o)[1], (*o)[2], (*o)[3], (*o)[4], (*o)[5]};
    in.position =
        vec3(Element<std::vector<double>>(dataset, DCM_ImagePositionPatient, ElementBase::Optional, true).get());
    in.pixelSpacing = Element<std::vector<double>>(dataset, DCM_PixelSpacing, ElementBase::Optional, true).get();
    if (in.pixelSpacing && in.pixelSpacing->size() < 2)
        in.pixelSpacing.reset();
    in.spacingBetweenSlices = Element<double>(dataset, DCM_SpacingBetweenSlices, ElementBase::Optional, true).get();
    in.temporalPosition = Element<int>(dataset, DCM_TemporalPositionIdentifier, ElementBase::Optional, true).value(0);
    in.triggerTime = Element<double>(dataset, DCM_TriggerTime, ElementBase::Optional, true).value(0.0);
    if (!std::isfinite(in.triggerTime))
        in.triggerTime = 0;  // sorted by: NaN has no place in an order
    in.acquisitionNumber = Element<int>(dataset, DCM_AcquisitionNumber, ElementBase::Optional, true).value(0);
    in.instanceNumber = Element<int>(dataset, DCM_InstanceNumber, ElementBase::Optional, true).value(0);
    if (in.frames > 1)
        readFunctionalGroups(dataset, in);
    return in;
}

Vec3 sliceNormal(const Instance& in)
{
    if (!in.orientation)
        return {0, 0, 1};
    const auto& o = *in.orientation;
    Vec3 n{o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length < 1e-6)
        return {0, 0, 1};
    for (double& c : n)
        c /= length;
    return n;
}

double dot(const Vec3& a, const Vec3& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

std::string groupKey(const Instance& in)
{
    std::string key = in.seriesUid.empty() ? "file:" + in.file : in.seriesUid;
    key += '|' + std::to_string(in.rows) + 'x' + std::to_string(in.columns) + '|';
    if (!in.orientation)
        return key + "none";
    for (double v : *in.orientation)
        key += std::to_string(std::llround(v * 1000.0)) + ',';
    return key;
}

ImageDescriptor describe(const Instance& first)
{
    ImageDescriptor d;
    d.width = first.columns;
    d.height = first.rows;
    d.slices = 1;
    d.modality = first.modality;
    if (first.pixelSpacing) {
        d.spacing[0] = (*first.pixelSpacing)[1];
        d.spacing[1] = (*first.pixelSpacing)[0];
        d.isMetric = true;
    }
    d.spacing[2] = first.spacingBetweenSlices.value_or(1.0);
    return d;
}

std::vector<ImageDescriptor> describeMultiFrame(const Instance& in)
{
    ImageDescriptor d = describe(in);
    d.slices = in.frames;
    d.files = {in.file};
    const auto& p = in.framePositions;
    if (p.size() >= 2) {
        const Vec3 delta{p.back()[0] - p.front()[0], p.back()[1] - p.front()[1], p.back()[2] - p.front()[2]};
        d.spacing[2] = std::sqrt(dot(delta, delta)) / static_cast<double>(p.size() - 1);
    } else if (!in.spacingBetweenSlices) {
        d.spacing[2] = 1.0;
        d.isMetric = false;
    }
    return {d};
}

std::vector<ImageDescriptor> describeGroup(std::vector<Instance*> group)
{
    std::vector<ImageDescriptor> result;
    const bool positioned =
        std::all_of(group.begin(), group.end(), [](const Instance* in) { return in->position.has_value(); });
    if (!positioned) {
        std::stable_sort(group.begin(), group.end(), [](const Instance* a, const Instance* b) {
            return std::tie(a->instanceNumber, a->order) < std::tie(b->instanceNumber, b->order);
        });
        for (const Instance* in : group) {
            ImageDescriptor d = describe(*in);
            d.files = {in->file};
            result.push_back(std::move(d));
        }
        return result;
    }

    const Vec3 normal = sliceNormal(*group.front());
    for (Instance* in : group)
        in->distance = dot(*in->position, normal);
    std::sort(group.begin(), group.end(), [](const Instance* a, const Instance* b) {
        return std::tie(a->distance, a->temporalPosition, a->triggerTime, a->acquisitionNumber, a->instanceNumber,
                        a->order) < std::tie(b->distance, b->temporalPosition, b->triggerTime, b->acquisitionNumber,
                                             b->instanceNumber, b->order);
    });

    std::vector<std::vector<const Instance*>> positions;
    for (size_t i = 0; i < group.size(); ++i) {
        if (i == 0 || group[i]->distance - positions.back().front()->distance > kSamePosition)
            positions.emplace_back();
        positions.back().push_back(group[i]);
    }
    // The n-th instance at each position goes to volume n, for as many volumes as most
    // positions hold instances.
    std::map<size_t, size_t> frequency;
    for (const auto& at : positions)
        ++frequency[at.size()];
    const size_t volumeCount = std::max_element(frequency.begin(), frequency.end(), [](const auto& a, const auto& b) {
                                   return a.second < b.second;
                               })->first;
    std::vector<std::vector<const Instance*>> volumes(volumeCount);
    std::vector<std::string> leftOut;
    for (const auto& at : positions)
        for (size_t n = 0; n < at.size(); ++n) {
            if (n < volumeCount)
                volumes[n].push_back(at[n]);
            else
                leftOut.push_back(at[n]->file);
        }
    for (const auto& slices : volumes) {
        ImageDescriptor d = describe(*slices.front());
        d.slices = static_cast<int>(slices.size());
        if (slices.size() >= 2)
            d.spacing[2] =
                (slices.back()->distance - slices.front()->distance) / static_cast<double>(slices.size() - 1);
        for (const Instance* in : slices)
            d.files.push_back(in->file);
        result.push_back(std::move(d));
    }
    result.front().leftOut = std::move(leftOut);
    return result;
}

std::vector<std::vector<ImageDescriptor>> group(std::vector<Instance>& instances)
{
    std::vector<std::vector<ImageDescriptor>> result;
    std::vector<std::vector<Instance*>> groups;
    std::map<std::string, size_t> groupIndex;
    std::vector<bool> multiFrame;
    for (Instance& in : instances) {
        if (in.frames > 1) {
            groups.push_back({&in});
            multiFrame.push_back(true);
            continue;
        }
        auto [it, inserted] = groupIndex.emplace(groupKey(in), groups.size());
        if (inserted) {
            groups.emplace_back();
            multiFrame.push_back(false);
        }
        groups[it->second].push_back(&in);
    }
    for (size_t g = 0; g < groups.size(); ++g)
        result.push_back(multiFrame[g] ? describeMultiFrame(*groups[g].front()) : describeGroup(groups[g]));
    return result;
}

}  // namespace

std::vector<std::vector<ImageDescriptor>> DicomLoader::describe(
    const std::vector<std::shared_ptr<DcmDataset>>& datasets, const std::vector<std::string>& names)
{
    std::vector<Instance> instances;
    for (size_t i = 0; i < datasets.size() && i < names.size(); ++i)
        if (datasets[i])
            instances.push_back(readInstance(*datasets[i], names[i], instances.size()));
    return group(instances);
}

DicomLoader::DicomLoader(std::vector<std::string> locations, Progress* progress,
                         std::shared_ptr<Dicom::DatasetCache> cache, Dicom::IOD_Registry* registry)
    : m_progress(progress), m_cache(std::move(cache)), m_registry(registry)
{
    // A location may itself be a "##"-joined list (what the browser hands over).
    for (const std::string& location : locations)
        for (std::string& part : Filesystem::splitLocationString(location))
            m_locations.push_back(std::move(part));
    if (!m_cache)
        m_cache = std::make_shared<Dicom::DatasetCache>(0);
}

DicomLoader::~DicomLoader() = default;

std::vector<std::vector<ImageDescriptor>> DicomLoader::loadDescriptors()
{
    std::vector<Instance> instances;
    for (const std::string& location : m_locations) {
        const Filesystem::Url url(location);
        std::vector<std::string> files;
        const auto datasets = m_cache->load(url, &files, m_progress, false);
        if (datasets.empty())
            throw Dicom::Exception(Dicom::Error(Dicom::Error::IoError, Dicom::Error::Fatal,
                                                "Cannot load DICOM data from '" + location + "'"));
        for (size_t i = 0; i < datasets.size(); ++i)
            instances.push_back(readInstance(*datasets[i], files[i], instances.size()));
    }

    std::vector<std::vector<ImageDescriptor>> result = group(instances);
    Log::log(0, "DICOM",
             "Described " + std::to_string(instances.size()) + " instances as " + std::to_string(result.size()) +
                 " image sets",
             __FILE__, __LINE__);
    return result;
}

}  // namespace Dravelin
