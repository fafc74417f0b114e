#include "host/dicom/io/DicomVolumeReader.h"

#include "host/core/LocationString.h"
#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomLoader.h"
#include "host/dicom/Element.h"
#include "host/dicom/dimse/PacsRetriever.h"
#include "host/dicom/io/PixelDecoder.h"
#include "host/dicom/io/ReceivedPixels.h"
#include "host/dicom/io/SliceSpacing.h"
#include "host/dicom/io/VolumeRescale.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <fcntl.h>
#ifdef _OPENMP
#include <omp.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <optional>
#include <tuple>

namespace Dravelin::Dicom {

namespace {

using Vec3 = std::array<double, 3>;

std::string text(DcmItem& item, const DcmTagKey& key)
{
    return Element<std::string>(item, key, ElementBase::Optional, true).value(std::string());
}

std::optional<std::vector<double>> numbers(DcmItem& item, const DcmTagKey& key, std::size_t count)
{
    auto v = Element<std::vector<double>>(item, key, ElementBase::Optional, true).get();
    if (!v || v->size() < count)
        return std::nullopt;
    return v;
}

DcmItem* firstItem(DcmItem* item, const DcmTagKey& sequence, long index = 0)
{
    DcmItem* result = nullptr;
    if (!item || item->findAndGetSequenceItem(sequence, result, index).bad())
        return nullptr;
    return result;
}

// The attributes an image's geometry and rescale come from, looked up in the dataset and in
// the functional groups of enhanced multi-frame objects (per-frame first, then shared).
struct FrameAttributes
{
    std::optional<std::vector<double>> orientation;
    std::optional<Vec3> position;
    std::optional<std::vector<double>> pixelSpacing;  // row spacing, column spacing
    std::optional<double> spacingBetweenSlices;
    double slope = 1;
    double intercept = 0;
    std::vector<double> windowCenters, windowWidths;
    // What repairGeometry() replaced, for a warning.
    std::vector<std::string> repairs;
};

void readMacros(DcmItem* groups, FrameAttributes& a)
{
    if (!groups)
        return;
    if (DcmItem* plane = firstItem(groups, DCM_PlaneOrientationSequence))
        if (auto o = numbers(*plane, DCM_ImageOrientationPatient, 6))
            a.orientation = o;
    if (DcmItem* plane = firstItem(groups, DCM_PlanePositionSequence))
        if (auto p = numbers(*plane, DCM_ImagePositionPatient, 3))
            a.position = Vec3{(*p)[0], (*p)[1], (*p)[2]};
    if (DcmItem* measures = firstItem(groups, DCM_PixelMeasuresSequence)) {
        if (auto s = numbers(*measures, DCM_PixelSpacing, 2))
            a.pixelSpacing = s;
        if (auto d = Element<double>(*measures, DCM_SpacingBetweenSlices, ElementBase::Optional, true).get())
            a.spacingBetweenSlices = d;
    }
    if (DcmItem* transform = firstItem(groups, DCM_PixelValueTransformationSequence)) {
        a.slope = Element<double>(*transform, DCM_RescaleSlope, ElementBase::Optional, true).value(a.slope);
        a.intercept = Element<double>(*transform, DCM_RescaleIntercept, ElementBase::Optional, true).value(a.intercept);
    }
    if (DcmItem* voi = firstItem(groups, DCM_FrameVOILUTSequence)) {
        if (auto c = numbers(*voi, DCM_WindowCenter, 1))
            a.windowCenters = *c;
        if (auto w = numbers(*voi, DCM_WindowWidth, 1))
            a.windowWidths = *w;
    }
}

Vec3 cross(const Vec3& a, const Vec3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double dot(const Vec3& a, const Vec3& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

double norm(const Vec3& a)
{
    return std::sqrt(dot(a, a));
}

// Patient coordinates beyond a kilometre are taken for garbage: no sum or product of them may
// overflow on the way to the image-to-world matrix.
constexpr double kFarthestMm = 1e6;

bool usable(double v)
{
    return std::isfinite(v) && std::abs(v) <= kFarthestMm;
}

std::string joined(const std::vector<double>& values)
{
    std::string text;
    for (double v : values) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", v);
        text += (text.empty() ? "" : "\\") + std::string(buffer);
    }
    return text;
}

const char* const kNoPlane = " gives no plane (its directions are zero or parallel); the image is taken as axial";
const char* const kNoPosition = " is no position; the slices are not placed by their positions";
const char* const kNoSpacing = " is no spacing; 1 mm is used";

// Degenerate geometry would make a singular image-to-world matrix: what cannot be a direction,
// a spacing or a position is left out (the defaults of a file without it apply) and said so;
// directions that are merely not of unit length or not quite orthogonal are made so.
void repairGeometry(FrameAttributes& a)
{
    if (a.orientation) {
        auto& o = *a.orientation;
        Vec3 row{o[0], o[1], o[2]}, column{o[3], o[4], o[5]};
        const double rowLength = norm(row), columnLength = norm(column);
        const bool finite = std::all_of(o.begin(), o.begin() + 6, [](double v) { return usable(v); });
        if (!finite || rowLength < 1e-6 || columnLength < 1e-6 ||
            norm(cross(row, column)) < 1e-3 * rowLength * columnLength) {
            a.repairs.push_back("ImageOrientationPatient " + joined({o.begin(), o.begin() + 6}) + kNoPlane);
            a.orientation.reset();
        } else {
            for (double& c : row)
                c /= rowLength;
            for (double& c : column)
                c /= columnLength;
            const double d = row[0] * column[0] + row[1] * column[1] + row[2] * column[2];
            if (std::abs(rowLength - 1) > 1e-3 || std::abs(columnLength - 1) > 1e-3 || std::abs(d) > 1e-3)
                a.repairs.push_back("ImageOrientationPatient " + joined({o.begin(), o.begin() + 6}) +
                                    " is not two orthogonal unit vectors; they are made so");
            for (int i = 0; i < 3; ++i)
                column[std::size_t(i)] -= d * row[std::size_t(i)];
            const double length = norm(column);
            for (int i = 0; i < 3; ++i) {
                o[std::size_t(i)] = row[std::size_t(i)];
                o[std::size_t(i + 3)] = column[std::size_t(i)] / length;
            }
        }
    }
    if (a.position && !std::all_of(a.position->begin(), a.position->end(), [](double v) { return usable(v); })) {
        a.repairs.push_back("ImagePositionPatient " + joined({a.position->begin(), a.position->end()}) + kNoPosition);
        a.position.reset();
    }
    if (a.pixelSpacing && !std::all_of(a.pixelSpacing->begin(), a.pixelSpacing->begin() + 2,
                                       [](double v) { return usable(v) && v > 0; })) {
        a.repairs.push_back("PixelSpacing " + joined({a.pixelSpacing->begin(), a.pixelSpacing->begin() + 2}) +
                            kNoSpacing);
        a.pixelSpacing.reset();
    }
    if (a.spacingBetweenSlices && !(usable(*a.spacingBetweenSlices) && *a.spacingBetweenSlices > 0)) {
        a.repairs.push_back("SpacingBetweenSlices " + joined({*a.spacingBetweenSlices}) + " is no spacing; ignored");
        a.spacingBetweenSlices.reset();
    }
    if (!std::isfinite(a.slope) || !std::isfinite(a.intercept)) {
        a.repairs.push_back("the rescale " + joined({a.slope, a.intercept}) + " is not a number; none is applied");
        a.slope = 1;
        a.intercept = 0;
    }
}

FrameAttributes readAttributes(DcmItem& dataset, int frame)
{
    FrameAttributes a;
    a.orientation = numbers(dataset, DCM_ImageOrientationPatient, 6);
    if (auto p = numbers(dataset, DCM_ImagePositionPatient, 3))
        a.position = Vec3{(*p)[0], (*p)[1], (*p)[2]};
    a.pixelSpacing = numbers(dataset, DCM_PixelSpacing, 2);
    a.spacingBetweenSlices = Element<double>(dataset, DCM_SpacingBetweenSlices, ElementBase::Optional, true).get();
    a.slope = Element<double>(dataset, DCM_RescaleSlope, ElementBase::Optional, true).value(1.0);
    a.intercept = Element<double>(dataset, DCM_RescaleIntercept, ElementBase::Optional, true).value(0.0);
    if (text(dataset, DCM_Modality) == "RTDOSE")
        a.slope = Element<double>(dataset, DCM_DoseGridScaling, ElementBase::Optional, true).value(1.0);
    if (auto c = numbers(dataset, DCM_WindowCenter, 1))
        a.windowCenters = *c;
    if (auto w = numbers(dataset, DCM_WindowWidth, 1))
        a.windowWidths = *w;
    readMacros(firstItem(&dataset, DCM_SharedFunctionalGroupsSequence), a);
    readMacros(firstItem(&dataset, DCM_PerFrameFunctionalGroupsSequence, frame), a);
    if (a.slope == 0)
        a.slope = 1;  // a zero slope would erase the image: treat it as absent
    // Present but not numbers ("NaN", text): as unusable as numbers that are no geometry.
    const std::tuple<DcmTagKey, const char*, bool, const char*> geometry[] = {
        {DCM_ImageOrientationPatient, "ImageOrientationPatient", a.orientation.has_value(), kNoPlane},
        {DCM_ImagePositionPatient, "ImagePositionPatient", a.position.has_value(), kNoPosition},
        {DCM_PixelSpacing, "PixelSpacing", a.pixelSpacing.has_value(), kNoSpacing}};
    for (const auto& [key, name, read, consequence] : geometry)
        if (!read && dataset.tagExistsWithValue(key)) {
            OFString value;
            dataset.findAndGetOFStringArray(key, value);
            a.repairs.push_back(std::string(name) + " " + value.c_str() + consequence);
        }
    repairGeometry(a);
    return a;
}

// Sets spacing and image-to-world matrix. sliceStep: from the first slice to the next, when
// the slices' positions are known (it may be oblique to the image plane, as in tilted
// acquisitions). Returns what had to be repaired, or nothing.
std::string setGeometry(PixelVolume& v, const FrameAttributes& first, const std::optional<Vec3>& sliceStep)
{
    Vec3 row{1, 0, 0}, column{0, 1, 0};
    if (first.orientation) {
        const auto& o = *first.orientation;
        row = {o[0], o[1], o[2]};
        column = {o[3], o[4], o[5]};
        if (norm(row) < 1e-6 || norm(column) < 1e-6) {
            row = {1, 0, 0};
            column = {0, 1, 0};
        }
    }
    Vec3 normal = cross(row, column);
    const double length = norm(normal);
    if (length < 1e-6)
        normal = {0, 0, 1};
    else
        for (double& c : normal)
            c /= length;
    const double columnSpacing = first.pixelSpacing ? (*first.pixelSpacing)[1] : 1.0;
    const double rowSpacing = first.pixelSpacing ? (*first.pixelSpacing)[0] : 1.0;
    Vec3 step;
    std::string repair;
    // Slices side by side in their own plane would make the matrix singular.
    const bool inPlane = sliceStep && std::abs(dot(*sliceStep, normal)) <= 1e-6 * norm(*sliceStep);
    if (inPlane && norm(*sliceStep) > 1e-9)
        repair = "the slices' positions lie in the image plane, not along its normal; they are stacked along it";
    if (sliceStep && norm(*sliceStep) > 1e-9 && !inPlane) {
        step = *sliceStep;
    } else {
        const double s = first.spacingBetweenSlices.value_or(1.0);
        step = {normal[0] * s, normal[1] * s, normal[2] * s};
    }
    v.spacing = {columnSpacing, rowSpacing, norm(step)};
    v.metric = first.pixelSpacing.has_value();
    const Vec3 origin = first.position.value_or(Vec3{0, 0, 0});
    auto& m = v.imageToWorld;
    for (int i = 0; i < 3; ++i) {
        m[std::size_t(i * 4 + 0)] = row[std::size_t(i)] * columnSpacing;
        m[std::size_t(i * 4 + 1)] = column[std::size_t(i)] * rowSpacing;
        m[std::size_t(i * 4 + 2)] = step[std::size_t(i)];
        m[std::size_t(i * 4 + 3)] = origin[std::size_t(i)];
    }
    m[12] = m[13] = m[14] = 0;
    m[15] = 1;
    v.windowCenters = first.windowCenters;
    v.windowWidths = first.windowWidths;
    return repair;
}

// One line per distinct repair, naming the first file (and frame) it was made in.
std::vector<std::string> repairMessages(const std::vector<FrameAttributes>& attributes,
                                        const std::function<std::string(std::size_t)>& where, const char* others)
{
    std::vector<std::string> order;
    std::map<std::string, std::pair<std::size_t, std::size_t>> seen;  // repair -> first, count
    for (std::size_t k = 0; k < attributes.size(); ++k)
        for (const std::string& repair : attributes[k].repairs)
            if (seen.try_emplace(repair, k, 0).first->second.second++ == 0)
                order.push_back(repair);
    std::vector<std::string> messages;
    for (const std::string& repair : order) {
        const auto [first, count] = seen[repair];
        messages.push_back(where(first) + ": " + repair +
                           (count > 1 ? " (and in " + std::to_string(count - 1) + " more " + others + ")" : ""));
    }
    return messages;
}

bool isImage(DcmDataset& dataset)
{
    return Element<int>(dataset, DCM_Rows, ElementBase::Optional, true).value(0) > 0 &&
           Element<int>(dataset, DCM_Columns, ElementBase::Optional, true).value(0) > 0 &&
           Element<int>(dataset, DCM_BitsAllocated, ElementBase::Optional, true).value(0) > 0;
}

std::string fileLabel(const std::string& name)
{
    return "'" + name + "'";
}

// "Series 'description' (uid)", for messages about a whole series.
std::string seriesLabel(DcmItem& dataset)
{
    const std::string description = text(dataset, DCM_SeriesDescription);
    const std::string uid = text(dataset, DCM_SeriesInstanceUID);
    if (description.empty())
        return "Series " + (uid.empty() ? std::string("without a UID") : uid);
    return "Series '" + description + "'" + (uid.empty() ? std::string() : " (" + uid + ")");
}

// Millimetres to 0.001 mm, without trailing zeros.
std::string millimetres(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    std::string s = buffer;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s + " mm";
}

Vec3 unitNormal(const std::optional<std::vector<double>>& orientation)
{
    if (!orientation)
        return {0, 0, 1};
    const auto& o = *orientation;
    const Vec3 n = cross({o[0], o[1], o[2]}, {o[3], o[4], o[5]});
    const double length = norm(n);
    if (length < 1e-6)
        return {0, 0, 1};
    return {n[0] / length, n[1] / length, n[2] / length};
}

}  // namespace

struct DicomVolumeReader::Source
{
    std::string name;  // file path or instance URL
    std::shared_ptr<DcmDataset> header;
    bool complete = false;  // header holds the pixel data as well
    std::string location;
    // Where the pixels went when they were taken out on arrival (then header has none).
    ReceivedPixels* pixels = nullptr;
    std::size_t slot = 0;
};

DicomVolumeReader::DicomVolumeReader(std::shared_ptr<DatasetCache> cache) : m_cache(std::move(cache))
{
    if (!m_cache)
        m_cache = std::make_shared<DatasetCache>(0);
}

DicomVolumeReader::~DicomVolumeReader() = default;

void DicomVolumeReader::addError(Error::Code code, Error::Type type, const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_errors.emplace_back(code, type, message);
    DRAVELIN_LOG(type == Error::Fatal ? 3 : type == Error::Warning ? 2 : 1, "DICOM", message);
}

namespace {

// "12 KiB", "3 MiB": rounded up.
std::string byteSize(std::size_t bytes)
{
    if (bytes < (std::size_t(1) << 20))
        return std::to_string((bytes + 1023) >> 10) + " KiB";
    return std::to_string((bytes >> 20) + ((bytes & 0xFFFFF) != 0 ? 1 : 0)) + " MiB";
}

}  // namespace

bool DicomVolumeReader::allocate(PixelVolume& volume, const std::string& name, int width, int height, int slices,
                                 int channels, VoxelType type, std::vector<std::uint8_t>* samples)
{
    std::size_t bytes = 1;
    bool overflow = false;
    for (const int factor : {width, height, slices, channels, voxelSize(type)})
        overflow = overflow || factor < 0 || __builtin_mul_overflow(bytes, std::size_t(factor), &bytes);
    if (overflow || bytes > m_volumeLimit) {
        addError(Error::InvalidValue, Error::Fatal,
                 fileLabel(name) + ": the volume would take " + (overflow ? "more than 16 EiB" : byteSize(bytes)) +
                     ", more than the " + byteSize(m_volumeLimit) +
                     " one volume may take (DICOM setting 'Largest Volume')");
        return false;
    }
    try {
        volume = samples ? PixelVolume(width, height, slices, channels, type, std::move(*samples))
                         : PixelVolume(width, height, slices, channels, type);
    } catch (const std::bad_alloc&) {
        addError(Error::InvalidValue, Error::Fatal,
                 fileLabel(name) + ": not enough memory for a volume of " + byteSize(bytes));
        return false;
    }
    return true;
}

std::vector<LoadedImageSet> DicomVolumeReader::read(const std::string& locationString, Progress* progress)
{
    std::vector<LoadedImageSet> result;
    m_nonImages.clear();
    std::vector<Source> sources;
    std::vector<std::unique_ptr<ReceivedPixels>> received;
    for (const std::string& location : Filesystem::splitLocationString(locationString)) {
        const Filesystem::Url url(location);
        // Local files are read twice (headers for grouping, then pixels slice by slice) so that
        // no more than a few complete datasets are in memory at once.
        const bool local = url.isLocalFile() || url.scheme().empty();
        std::vector<std::string> names;
        std::vector<Error> reported;
        std::mutex reportedMutex;
        const int callback = m_cache->addErrorCallback([&](const Error& e) {
            std::lock_guard<std::mutex> lock(reportedMutex);
            reported.push_back(e);
        });
        // Retrieved pixels go straight into what becomes the volume, instance by instance.
        ReceivedPixels* pixels = nullptr;
        std::vector<std::shared_ptr<DcmDataset>> datasets;
        if (url.scheme() == DicomPacsConfiguration::Scheme) {
            pixels = received.emplace_back(std::make_unique<ReceivedPixels>()).get();
            datasets = PacsRetriever([&](const Error& e) {
                           std::lock_guard<std::mutex> lock(reportedMutex);
                           reported.push_back(e);
                       }).retrieve(url, &names, progress, true, [pixels](DcmDataset& dataset, std::size_t expected) {
                pixels->take(dataset, expected);
            });
        } else {
            datasets = m_cache->load(url, &names, progress, !local);
        }
        m_cache->removeErrorCallback(callback);
        // The cache's own reasons (each naming its file) say more than a generic message. A local
        // file that cannot be read is a file left out.
        const auto fatal =
            std::find_if(reported.begin(), reported.end(), [](const Error& e) { return e.type == Error::Fatal; });
        if (fatal != reported.end())
            addError(fatal->code, Error::Fatal, fatal->message);
        else
            for (const Error& e : reported)
                if (e.type == Error::Warning)
                    addError(e.code, local || datasets.empty() ? Error::Fatal : Error::Warning, e.message);
        if (datasets.empty()) {
            if (reported.empty())
                addError(Error::IoError, Error::Fatal,
                         "Cannot load DICOM data from '" + (local ? url.localFilePath() : location) +
                             "': it holds no DICOM file");
            continue;
        }
        for (std::size_t i = 0; i < datasets.size() && i < names.size(); ++i) {
            const long slot = pixels ? pixels->slotOf(datasets[i].get()) : -1;
            sources.push_back(Source{names[i], datasets[i], !local, location, slot < 0 ? nullptr : pixels,
                                     slot < 0 ? 0 : std::size_t(slot)});
        }
    }

    std::vector<std::shared_ptr<DcmDataset>> images;
    std::vector<std::string> names;
    std::map<std::string, const Source*> byName;
    for (const Source& s : sources) {
        if (!isImage(*s.header)) {
            if (text(*s.header, DCM_Modality) != "RTSTRUCT")
                addError(Error::NotSupported, Error::Information, fileLabel(s.name) + " holds no image");
            m_nonImages.push_back(s.header);
            continue;
        }
        images.push_back(s.header);
        names.push_back(s.name);
        byName[s.name] = &s;
    }
    if (images.empty())
        return result;

    for (const auto& group : DicomLoader::describe(images, names)) {
        if (!group.empty() && !group.front().leftOut.empty() && !group.front().files.empty()) {
            std::string files;
            for (const std::string& f : group.front().leftOut)
                files += (files.empty() ? "" : ", ") + fileLabel(f);
            addError(Error::InvalidValue, Error::Warning,
                     seriesLabel(*byName.at(group.front().files.front())->header) + ": " +
                         std::to_string(group.front().leftOut.size()) +
                         " instance(s) left out, at positions that earlier instances already fill: " + files);
        }
        LoadedImageSet set;
        bool ok = true;
        for (const ImageDescriptor& d : group) {
            std::vector<const Source*> slices;
            for (const std::string& f : d.files)
                slices.push_back(byName.at(f));
            if (slices.empty())
                continue;
            const int frames =
                Element<int>(*slices.front()->header, DCM_NumberOfFrames, ElementBase::Optional, true).value(1);
            ok = (slices.size() == 1 && frames > 1) ? readMultiFrame(*slices.front(), set) : readSlices(slices, set);
            if (!ok)
                break;
            if (set.location.empty()) {
                set.location = slices.front()->location;
                DcmDataset& h = *slices.front()->header;
                set.seriesInstanceUid = text(h, DCM_SeriesInstanceUID);
                set.frameOfReferenceUid = text(h, DCM_FrameOfReferenceUID);
                set.sopClassUid = text(h, DCM_SOPClassUID);
            }
        }
        if (ok && !set.volumes.empty())
            addRegular(std::move(set), result);
    }
    return result;
}

namespace {

bool strictlyMonotonic(const std::vector<double>& p)
{
    if (p.size() < 3)
        return false;  // two slices are always evenly spaced
    const bool ascending = p.back() > p.front();
    for (std::size_t k = 1; k < p.size(); ++k)
        if (ascending ? p[k] <= p[k - 1] : p[k] >= p[k - 1])
            return false;
    return true;
}

// The set of one volume cut into its runs of equal steps, each part noted as such.
std::vector<LoadedImageSet> regularParts(const LoadedImageSet& set, const SliceSpacing& spacing, double maxDeviation,
                                         const std::string& noteStart)
{
    std::vector<LoadedImageSet> parts;
    const auto runs = spacing.regularRuns();
    for (const auto& [from, count] : runs) {
        LoadedImageSet part;
        part.volumes.push_back(spacing.part(set.volumes.front(), from, count));
        part.datasets.assign(set.datasets.begin() + from, set.datasets.begin() + from + count);
        part.slicePositions.emplace_back(set.slicePositions.front().begin() + from,
                                         set.slicePositions.front().begin() + from + count);
        part.location = set.location;
        part.seriesInstanceUid = set.seriesInstanceUid;
        part.frameOfReferenceUid = set.frameOfReferenceUid;
        part.sopClassUid = set.sopClassUid;
        const int number = int(parts.size()) + 1;
        part.irregularSpacing = IrregularSpacing{maxDeviation, 0, number, int(runs.size())};
        part.note = noteStart + "part " + std::to_string(number) + " of " + std::to_string(runs.size()) + ", slices " +
                    std::to_string(from + 1) + "-" + std::to_string(from + count) + " of " +
                    std::to_string(spacing.slices()) + ", " + millimetres(part.volumes.front().spacing[2]) + " apart";
        parts.push_back(std::move(part));
    }
    return parts;
}

// Puts the uneven volumes of `set` (those with a spacing) on their grids; each grid plane
// names the instance nearest to it.
void resampleUneven(LoadedImageSet& set, const std::vector<std::optional<SliceSpacing>>& spacings)
{
    std::vector<std::shared_ptr<DcmDataset>> datasets;
    std::size_t offset = 0;
    for (std::size_t v = 0; v < set.volumes.size(); ++v) {
        const int acquired = set.volumes[v].slices;
        const auto firstDataset = set.datasets.begin() + std::ptrdiff_t(offset);
        offset += std::size_t(acquired);
        if (!spacings[v]) {
            datasets.insert(datasets.end(), firstDataset, firstDataset + acquired);
            continue;
        }
        const SliceSpacing& spacing = *spacings[v];
        set.volumes[v] = spacing.resample(set.volumes[v]);
        for (int k : spacing.nearestSlices())
            datasets.push_back(firstDataset[k]);
        std::vector<double>& positions = set.slicePositions[v];
        const double step = positions.back() > positions.front() ? spacing.gridStep() : -spacing.gridStep();
        const double start = positions.front();
        positions.resize(std::size_t(spacing.gridSlices()));
        for (std::size_t j = 0; j < positions.size(); ++j)
            positions[j] = start + step * double(j);
    }
    set.datasets = std::move(datasets);
}

}  // namespace

void DicomVolumeReader::addRegular(LoadedImageSet&& set, std::vector<LoadedImageSet>& out)
{
    std::vector<std::optional<SliceSpacing>> spacings(set.volumes.size());
    std::optional<std::size_t> first;  // the first uneven volume
    double maxDeviation = 0;
    for (std::size_t v = 0; v < set.volumes.size(); ++v) {
        const std::vector<double>& positions = set.slicePositions[v];
        if (!strictlyMonotonic(positions) || int(positions.size()) != set.volumes[v].slices)
            continue;
        if (SliceSpacing spacing(positions); !spacing.isRegular()) {
            maxDeviation = std::max(maxDeviation, spacing.maxDeviation());
            spacings[v] = std::move(spacing);
            first = first.value_or(v);
        }
    }
    if (!first) {
        out.push_back(std::move(set));
        return;
    }
    const std::string series = set.datasets.empty() || !set.datasets.front() ? "Series from '" + set.location + "'"
                                                                             : seriesLabel(*set.datasets.front());
    const std::string uneven = series + ": slices are unevenly spaced, up to " + millimetres(maxDeviation) +
                               " off one even step from the first to the last";
    const std::string noteStart =
        "Unevenly spaced slices (up to " + millimetres(maxDeviation) + " off one even step): ";

    if (m_policy == IrregularSpacingPolicy::SplitIntoRegularParts && set.volumes.size() == 1) {
        std::vector<LoadedImageSet> parts = regularParts(set, *spacings.front(), maxDeviation, noteStart);
        addError(Error::InvalidValue, Error::Warning,
                 uneven + "; split into " + std::to_string(parts.size()) + " image sets of evenly spaced slices");
        std::move(parts.begin(), parts.end(), std::back_inserter(out));
        return;
    }
    for (std::size_t v = 0; v < set.volumes.size(); ++v) {
        const std::size_t bytes =
            spacings[v] ? std::size_t(spacings[v]->gridSlices()) * set.volumes[v].sliceBytes() : 0;
        if (bytes > m_volumeLimit) {
            addError(Error::InvalidValue, Error::Fatal,
                     uneven + "; on a regular grid of " + std::to_string(spacings[v]->gridSlices()) +
                         " slices the volume would take " + byteSize(bytes) + ", more than the " +
                         byteSize(m_volumeLimit) + " one volume may take (DICOM setting 'Largest Volume')");
            return;
        }
    }
    resampleUneven(set, spacings);
    const SliceSpacing& grid = *spacings[*first];
    const std::string gridText =
        std::to_string(grid.gridSlices()) + " slices " + millimetres(grid.gridStep()) + " apart";
    addError(Error::InvalidValue, Error::Warning, uneven + "; resampled onto a regular grid of " + gridText);
    set.irregularSpacing = IrregularSpacing{maxDeviation, grid.gridStep(), 0, 0};
    set.note = noteStart + "resampled to " + gridText;
    out.push_back(std::move(set));
}

namespace {

// A complete dataset for decoding: the one in memory, or the file parsed again in full.
struct FullDataset
{
    std::unique_ptr<DcmFileFormat> file;
    std::shared_ptr<DcmDataset> shared;
    DcmDataset* dataset = nullptr;
    std::string error;
};

FullDataset fullDataset(const std::string& name, const std::shared_ptr<DcmDataset>& header, bool complete)
{
    FullDataset full;
    if (complete) {
        full.shared = header;
        full.dataset = header.get();
        return full;
    }
    full.file = std::make_unique<DcmFileFormat>();
    const OFCondition status =
        full.file->loadFile(name.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_autoDetect);
    if (status.bad()) {
        full.error = status.text();
        return full;
    }
    full.dataset = full.file->getDataset();
    return full;
}

// Native little-endian pixel data usually ends the file: then one read of the file's tail
// replaces a full parse. False (nothing read) when the tail is not that element.
bool readTrailingPixelData(const std::string& path, E_TransferSyntax xfer, std::size_t bytes,
                           std::vector<std::uint8_t>& buffer)
{
    if (xfer != EXS_LittleEndianExplicit && xfer != EXS_LittleEndianImplicit)
        return false;
    const std::size_t header = xfer == EXS_LittleEndianExplicit ? 12 : 8;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0 && std::size_t(info.st_size) >= bytes + header;
    if (ok) {
        buffer.resize(bytes + header);
        const off_t start = info.st_size - off_t(bytes + header);
        std::size_t filled = 0;
        while (filled < buffer.size()) {
            const ssize_t n = ::pread(fd, buffer.data() + filled, buffer.size() - filled, start + off_t(filled));
            if (n <= 0)
                break;
            filled += std::size_t(n);
        }
        ok = filled == buffer.size();
    }
    ::close(fd);
    if (!ok)
        return false;
    const std::uint8_t* h = buffer.data();
    const std::uint32_t length = std::uint32_t(h[header - 4]) | std::uint32_t(h[header - 3]) << 8 |
                                 std::uint32_t(h[header - 2]) << 16 | std::uint32_t(h[header - 1]) << 24;
    const bool tag = h[0] == 0xE0 && h[1] == 0x7F && h[2] == 0x10 && h[3] == 0x00;
    const bool vr = header == 8 || ((h[4] == 'O' && (h[5] == 'W' || h[5] == 'B')) && h[6] == 0 && h[7] == 0);
    return tag && vr && length == bytes;
}

// Decodes `frames` of one dataset into the slices of `volume`. JPEG 2000 frames decode side by
// side, their code streams copied out a batch at a time (a few per thread), since only one
// thread may read the dataset; the other syntaxes decode in turn.
bool decodeFrames(PixelDecoder& decoder, const std::vector<int>& frames, PixelVolume& volume, Error& error)
{
    const int n = static_cast<int>(frames.size());
    if (!decoder.holdsJpeg2000() || n < 2) {
        for (int k = 0; k < n; ++k)
            if (!decoder.decodeFrame(frames[std::size_t(k)], volume.slice(k), error))
                return false;
        return true;
    }
#ifdef _OPENMP
    const int threads = omp_get_max_threads();
#else
    const int threads = 1;  // built without OpenMP (the fuzzers): frames decode one by one
#endif
    const int batch = 4 * std::max(1, threads);
    const auto size = static_cast<std::size_t>(batch);
    std::vector<std::vector<std::uint8_t>> streams(size);
    std::vector<Error> errors(size);
    std::vector<char> failed(size);
    for (int start = 0; start < n; start += batch) {
        const int m = std::min(batch, n - start);
        for (int j = 0; j < m; ++j)
            if (!decoder.codeStream(frames[std::size_t(start + j)], streams[std::size_t(j)], error))
                return false;
        std::fill(failed.begin(), failed.end(), 0);
#pragma omp parallel for schedule(dynamic)
        for (int j = 0; j < m; ++j)
            failed[std::size_t(j)] = !decoder.decodeCodeStream(frames[std::size_t(start + j)], streams[std::size_t(j)],
                                                               volume.slice(start + j), errors[std::size_t(j)]);
        for (int j = 0; j < m; ++j)
            if (failed[std::size_t(j)]) {
                error = errors[std::size_t(j)];
                return false;
            }
    }
    return true;
}

}  // namespace

bool DicomVolumeReader::readSlices(const std::vector<const Source*>& slices, LoadedImageSet& set)
{
    const int count = static_cast<int>(slices.size());
    std::vector<FrameAttributes> attributes;
    attributes.reserve(slices.size());
    for (const Source* s : slices)
        attributes.push_back(readAttributes(*s->header, 0));

    // The first slice fixes the volume's size and type.
    PixelFormat format;
    PixelVolume volume;
    bool adopted = false;
    if (ReceivedPixels* received = slices.front()->pixels) {
        format = received->format();
        // All of a retrieval's slices in one volume: its buffer becomes the volume.
        adopted = std::size_t(count) == received->size() &&
                  std::all_of(slices.begin(), slices.end(), [&](const Source* s) { return s->pixels == received; });
        std::vector<std::uint8_t> samples;
        if (adopted) {
            std::vector<std::size_t> order;
            for (const Source* s : slices)
                order.push_back(s->slot);
            samples = received->takeOrdered(order);
        }
        if (!allocate(volume, slices.front()->name, format.columns, format.rows, count, received->channels(),
                      received->type(), adopted ? &samples : nullptr))
            return false;
        if (!adopted)
            std::memcpy(volume.slice(0), received->slice(slices.front()->slot), volume.sliceBytes());
    } else {
        FullDataset first = fullDataset(slices.front()->name, slices.front()->header, slices.front()->complete);
        if (!first.dataset) {
            addError(Error::IoError, Error::Fatal, fileLabel(slices.front()->name) + " cannot be read: " + first.error);
            return false;
        }
        PixelDecoder firstDecoder(*first.dataset);
        Error error;
        if (!firstDecoder.open(error)) {
            addError(error.code, Error::Fatal, fileLabel(slices.front()->name) + ": " + error.message);
            return false;
        }
        format = firstDecoder.format();
        if (!allocate(volume, slices.front()->name, format.columns, format.rows, count, firstDecoder.outputChannels(),
                      firstDecoder.outputType()))
            return false;
        if (!firstDecoder.decodeFrame(0, volume.slice(0), error)) {
            addError(error.code, Error::Fatal, fileLabel(slices.front()->name) + ": " + error.message);
            return false;
        }
    }

    // One integer intercept that the stored bits allow is added while each slice is still in
    // the cache, instead of in two passes over the volume afterwards.
    const double intercept = attributes.front().intercept;
    const bool sameRescale = std::all_of(attributes.begin(), attributes.end(), [&](const FrameAttributes& a) {
        return a.slope == 1.0 && a.intercept == intercept;
    });
    const std::optional<VoxelType> interceptType = sameRescale && intercept != 0 && volume.channels == 1
                                                       ? interceptTypeFor(volume.type, format.bitsStored, intercept)
                                                       : std::nullopt;
    const std::size_t sliceSamples = volume.sampleCount() / std::size_t(count);
    if (interceptType)
        addIntercept(volume.type, *interceptType, volume.slice(0), sliceSamples, std::int64_t(intercept));

    std::vector<std::string> failures(slices.size());
    // Plain grey or colour samples of whole bytes, from local files.
    const std::size_t frameBytes = std::size_t(format.rows) * std::size_t(format.columns) *
                                   std::size_t(format.samplesPerPixel) * std::size_t(format.bitsAllocated / 8);
    const bool fastPath = !slices.front()->complete && format.bitsAllocated >= 8 && format.frames == 1 &&
                          format.photometric != "YBR_FULL_422" && format.photometric != "PALETTE COLOR";
    // Slices decode side by side, each thread holding one file's data at a time; after a
    // failure the remaining slices are skipped, the set being lost anyway.
    std::atomic<bool> failed{false};
#pragma omp parallel for schedule(dynamic)
    for (int k = 1; k < count; ++k) {
        if (failed.load(std::memory_order_relaxed))
            continue;
        const Source& s = *slices[std::size_t(k)];
        if (adopted || s.pixels) {
            const bool same =
                adopted || (s.pixels->format().rows == format.rows && s.pixels->format().columns == format.columns &&
                            s.pixels->type() == volume.type && s.pixels->channels() == volume.channels);
            if (!same) {
                failures[std::size_t(k)] = "its pixel format differs from the first slice's";
                continue;
            }
            if (!adopted)
                std::memcpy(volume.slice(k), s.pixels->slice(s.slot), volume.sliceBytes());
            if (interceptType)
                addIntercept(volume.type, *interceptType, volume.slice(k), sliceSamples, std::int64_t(intercept));
            continue;
        }
        if (fastPath) {
            thread_local std::vector<std::uint8_t> tail;
            PixelDecoder decoder(*s.header);
            Error e;
            if (readTrailingPixelData(s.name, s.header->getOriginalXfer(), frameBytes, tail) && decoder.openFormat(e) &&
                decoder.format().rows == format.rows && decoder.format().columns == format.columns &&
                decoder.outputType() == volume.type && decoder.format().bitsStored == format.bitsStored &&
                decoder.format().frames == 1 &&
                decoder.decodeRawFrame(tail.data() + (tail.size() - frameBytes), frameBytes, volume.slice(k), e)) {
                if (interceptType)
                    addIntercept(volume.type, *interceptType, volume.slice(k), sliceSamples, std::int64_t(intercept));
                continue;
            }
        }
        FullDataset full = fullDataset(s.name, s.header, s.complete);
        if (!full.dataset) {
            failures[std::size_t(k)] = "cannot be read: " + full.error;
            failed = true;
            continue;
        }
        PixelDecoder decoder(*full.dataset);
        Error e;
        if (!decoder.open(e) || decoder.format().rows != format.rows || decoder.format().columns != format.columns ||
            decoder.outputType() != volume.type || decoder.outputChannels() != volume.channels) {
            failures[std::size_t(k)] =
                e.message.empty() ? "its pixel format differs from the first slice's" : e.message;
            failed = true;
            continue;
        }
        if (!decoder.decodeFrame(0, volume.slice(k), e))
            failures[std::size_t(k)] = e.message;
        else if (interceptType)
            addIntercept(volume.type, *interceptType, volume.slice(k), sliceSamples, std::int64_t(intercept));
        if (!failures[std::size_t(k)].empty())
            failed = true;
    }
    for (std::size_t k = 0; k < failures.size(); ++k)
        if (!failures[k].empty()) {
            addError(Error::InvalidValue, Error::Fatal, fileLabel(slices[k]->name) + ": " + failures[k]);
            return false;
        }

    std::optional<Vec3> step;
    if (count >= 2 && attributes.front().position && attributes.back().position) {
        const Vec3& a = *attributes.front().position;
        const Vec3& b = *attributes.back().position;
        step = Vec3{(b[0] - a[0]) / (count - 1), (b[1] - a[1]) / (count - 1), (b[2] - a[2]) / (count - 1)};
    }
    for (const std::string& message : repairMessages(
             attributes, [&](std::size_t k) { return fileLabel(slices[k]->name); }, "files"))
        addError(Error::InvalidValue, Error::Warning, message);
    if (const std::string repair = setGeometry(volume, attributes.front(), step); !repair.empty())
        addError(Error::InvalidValue, Error::Warning, seriesLabel(*slices.front()->header) + ": " + repair);
    volume.modality = text(*slices.front()->header, DCM_Modality);
    if (interceptType) {
        volume.type = *interceptType;
    } else if (volume.channels == 1) {
        std::vector<double> slopes, intercepts;
        for (const FrameAttributes& a : attributes) {
            slopes.push_back(a.slope);
            intercepts.push_back(a.intercept);
        }
        applyRescale(volume, slopes, intercepts);
    }
    std::vector<double> positions;
    if (std::all_of(attributes.begin(), attributes.end(), [](const FrameAttributes& a) { return a.position; })) {
        const Vec3 normal = unitNormal(attributes.front().orientation);
        for (const FrameAttributes& a : attributes)
            positions.push_back(dot(*a.position, normal));
    }
    for (const Source* s : slices)
        set.datasets.push_back(s->header);
    set.volumes.push_back(std::move(volume));
    set.slicePositions.push_back(std::move(positions));
    return true;
}

bool DicomVolumeReader::readMultiFrame(const Source& source, LoadedImageSet& set)
{
    FullDataset full = fullDataset(source.name, source.header, source.complete);
    if (!full.dataset) {
        addError(Error::IoError, Error::Fatal, fileLabel(source.name) + " cannot be read: " + full.error);
        return false;
    }
    PixelDecoder decoder(*full.dataset);
    Error error;
    if (!decoder.open(error)) {
        addError(error.code, Error::Fatal, fileLabel(source.name) + ": " + error.message);
        return false;
    }
    const PixelFormat format = decoder.format();
    const int frames = format.frames;
    std::vector<FrameAttributes> attributes;
    for (int f = 0; f < frames; ++f)
        attributes.push_back(readAttributes(*full.dataset, f));
    for (const std::string& message : repairMessages(
             attributes, [&](std::size_t f) { return fileLabel(source.name) + " frame " + std::to_string(f + 1); },
             "frames"))
        addError(Error::InvalidValue, Error::Warning, message);

    // Frames at repeated positions belong to successive volumes (a time series); frames
    // without positions stay in file order as one volume.
    std::vector<std::vector<int>> volumes;
    const bool positioned =
        std::all_of(attributes.begin(), attributes.end(), [](const FrameAttributes& a) { return a.position; });
    Vec3 normal{0, 0, 1};
    if (attributes.front().orientation) {
        const auto& o = *attributes.front().orientation;
        normal = cross({o[0], o[1], o[2]}, {o[3], o[4], o[5]});
    }
    bool distinctPositions = false;
    if (positioned) {
        std::vector<int> order(static_cast<std::size_t>(frames));
        for (int f = 0; f < frames; ++f)
            order[std::size_t(f)] = f;
        auto distance = [&](int f) { return dot(*attributes[std::size_t(f)].position, normal); };
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return distance(a) < distance(b) - 0.01; });
        double start = distance(order.front());
        std::size_t index = 0;
        for (int f : order) {
            if (distance(f) - start > 0.01) {
                start = distance(f);
                index = 0;
                distinctPositions = true;
            }
            if (volumes.size() <= index)
                volumes.emplace_back();
            volumes[index++].push_back(f);
        }
        // A position reached by fewer frames than the others: keep file order instead.
        for (const auto& v : volumes)
            if (v.size() != volumes.front().size())
                distinctPositions = false;
    }
    if (!positioned || !distinctPositions) {
        volumes.assign(1, {});
        for (int f = 0; f < frames; ++f)
            volumes.front().push_back(f);
    }

    const bool rtDose = text(*full.dataset, DCM_Modality) == "RTDOSE";
    for (const auto& frameList : volumes) {
        const int n = static_cast<int>(frameList.size());
        PixelVolume volume;
        if (!allocate(volume, source.name, format.columns, format.rows, n, decoder.outputChannels(),
                      decoder.outputType()))
            return false;
        if (!decodeFrames(decoder, frameList, volume, error)) {
            addError(error.code, Error::Fatal, fileLabel(source.name) + ": " + error.message);
            return false;
        }
        const FrameAttributes& firstFrame = attributes[std::size_t(frameList.front())];
        std::optional<Vec3> step;
        std::vector<double> positions;
        if (n >= 2 && distinctPositions) {
            const Vec3& a = *firstFrame.position;
            const Vec3& b = *attributes[std::size_t(frameList.back())].position;
            step = Vec3{(b[0] - a[0]) / (n - 1), (b[1] - a[1]) / (n - 1), (b[2] - a[2]) / (n - 1)};
            for (int f : frameList)
                positions.push_back(dot(*attributes[std::size_t(f)].position, unitNormal(firstFrame.orientation)));
        } else if (n >= 2 && rtDose) {
            // Dose planes lie at offsets along the normal from the image position.
            if (auto offsets = numbers(*full.dataset, DCM_GridFrameOffsetVector, std::size_t(n))) {
                const double d = ((*offsets)[std::size_t(n - 1)] - (*offsets)[0]) / (n - 1);
                const double length = norm(normal) > 1e-6 ? norm(normal) : 1.0;
                step = Vec3{normal[0] / length * d, normal[1] / length * d, normal[2] / length * d};
                positions.assign(offsets->begin(), offsets->begin() + n);
            }
        }
        if (const std::string repair = setGeometry(volume, firstFrame, step); !repair.empty())
            addError(Error::InvalidValue, Error::Warning, fileLabel(source.name) + ": " + repair);
        volume.modality = text(*full.dataset, DCM_Modality);
        if (volume.channels == 1) {
            std::vector<double> slopes, intercepts;
            for (int f : frameList) {
                slopes.push_back(attributes[std::size_t(f)].slope);
                intercepts.push_back(attributes[std::size_t(f)].intercept);
            }
            applyRescale(volume, slopes, intercepts);
        }
        for (int k = 0; k < n; ++k)
            set.datasets.push_back(source.header);
        set.volumes.push_back(std::move(volume));
        set.slicePositions.push_back(std::move(positions));
    }
    return true;
}

}  // namespace Dravelin::Dicom
