#include "scanning/Series.h"

#include "browser/models/QtHelpers.h"
#include "host/core/Log.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomLoader.h"
#include "host/dicom/Element.h"
#include "scanning/RecordElements.h"
#include "scanning/Image.h"
#include "scanning/RecordTags.h"

#include <algorithm>
#include <cmath>

namespace Dravelin::Dicom {

namespace {

double distance(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

int toIntOrZero(const QString& text)
{
    return numberInText(text).value_or(0);
}

// findIndexOfAscendingNumbers for any function object: the estimate runs it on every image a
// merge inserts, where a std::function call per image costs more than the comparison.
template <typename Number>
int indexOfAscendingNumbers(int count, const std::vector<Image*>& images, const Number& number)
{
    if (images.size() < 2)
        return -1;
    int run = 0;
    for (size_t i = 1; i < images.size(); ++i) {
        const std::optional<int> a = number(images[i - 1]);
        const std::optional<int> b = number(images[i]);
        if (a && b) {
            // Widened so that INT_MAX followed by anything never overflows.
            run = static_cast<long long>(*a) + 1 == *b ? run + 1 : 0;
            if (run == count - 1)
                return static_cast<int>(i) - run;
        } else {
            if (count == 1)
                return static_cast<int>(i);
            run = 0;
        }
    }
    return -1;
}

// Keeps a cached order current on insertion, or drops it when it was already stale.
void insertIntoOrder(std::vector<Image*>& order, size_t imageCount, Image* image,
                     bool (*less)(const Image*, const Image*))
{
    if (order.size() == imageCount)
        order.insert(std::upper_bound(order.begin(), order.end(), image, less), image);
    else
        order.clear();
}

void refreshOrder(std::vector<Image*>& order, const std::vector<Image*>& images,
                  bool (*less)(const Image*, const Image*))
{
    if (order.size() == images.size())
        return;
    order = images;
    std::sort(order.begin(), order.end(), less);
}

// The images of a series mostly repeat these texts: an equal text shares the neighbour's
// copy, which keeps a large scan's memory to about one copy per series.
void shareRepeatedText(Image& image, const Image& neighbour)
{
    for (QString Image::*field :
         {&Image::imageType, &Image::width, &Image::height, &Image::channels, &Image::bitsAllocated,
          &Image::numberOfFrames, &Image::sliceThickness, &Image::protocolName, &Image::bodyPartExamined,
          &Image::manufacturer, &Image::manufacturerModelName}) {
        QString& own = image.*field;
        const QString& other = neighbour.*field;
        // Texts a folder scan read from equal bytes are shared already.
        if (own.constData() == other.constData())
            continue;
        if (!own.isNull() && own == other)
            own = other;
    }
}

}  // namespace

Series::Series(Study* study) : study(study) {}

Series::Series(Study* study, DcmItem& item, bool withChildren) : Series(study, RecordElements(item), withChildren) {}

Series::Series(Study* study, const RecordElements& fields, bool withChildren) : study(study)
{
    const RecordTags& tags = RecordTags::get();
    QString uid = fields.value<QString>(tags.seriesInstanceUid, ElementBase::Required, false, QString());
    QString sopClass = fields.value<QString>(tags.sopClassUid, ElementBase::Required, false, QString());
    const std::string time = fields.value<std::string>(tags.seriesTime, ElementBase::Optional, false, std::string());
    const std::string date = fields.value<std::string>(tags.seriesDate, ElementBase::Optional, false, std::string());
    QString number = fields.value<QString>(tags.seriesNumber, ElementBase::Required, false, QString());
    QString mod = fields.value<QString>(tags.modality, ElementBase::Required, false, QString());
    QString description = fields.value<QString>(tags.seriesDescription, ElementBase::Optional, false, QString());

    seriesInstanceUid = std::move(uid);
    sopClassUid = std::move(sopClass);
    seriesTime = QtHelpers::convertDICOMTime(time, nullptr);
    seriesDate = QtHelpers::convertDICOMDate(date);
    seriesNumber = std::move(number);
    modality = std::move(mod);
    seriesDescription = std::move(description);

    if (withChildren) {
        Image* image = new Image(this, fields);
        images.push_back(image);
        if (!image->imageType.isEmpty())
            imageType = image->imageType;
    }
}

Series::Series(const Series& other)
    : Base(),
      seriesInstanceUid(other.seriesInstanceUid),
      sopClassUid(other.sopClassUid),
      seriesTime(other.seriesTime),
      seriesDate(other.seriesDate),
      seriesNumber(other.seriesNumber),
      seriesDescription(other.seriesDescription),
      modality(other.modality),
      dimensions(other.dimensions),
      checked(other.checked)
{
}

Series::~Series()
{
    for (Image* image : images)
        delete image;
}

void Series::insertImage(std::vector<Image*>::iterator position, Image* image)
{
    if (!images.empty())
        shareRepeatedText(*image, position == images.end() ? *images.back() : **position);
    insertIntoOrder(imagesByAcquisition, images.size(), image, compareAcquisitionNumbers);
    insertIntoOrder(imagesByInstance, images.size(), image, compareInstanceNumbers);
    images.insert(position, image);
}

void Series::fileIntoOrders(const std::vector<Image*>& arrivals)
{
    std::size_t count = images.size();
    for (Image* image : arrivals) {
        if (count > 0)
            shareRepeatedText(*image, images.empty() ? *arrivals.front() : *images.back());
        insertIntoOrder(imagesByAcquisition, count, image, compareAcquisitionNumbers);
        insertIntoOrder(imagesByInstance, count, image, compareInstanceNumbers);
        ++count;
    }
}

void Series::estimateDimensions()
{
    DimensionsInfo& e = estimatedDimensions;
    e = DimensionsInfo();
    if (images.empty())
        return;

    const Image* first = images.front();
    // Along x (between columns) first, as the loader reports it; the header stores rows first.
    e.spacing = {first->pixelSpacing[1], first->pixelSpacing[0], 1.0};
    e.hasSpacing = std::fabs(first->pixelSpacing[0]) > 1e-12 || std::fabs(first->pixelSpacing[1]) > 1e-12;
    e.width = toIntOrZero(first->width);
    e.height = toIntOrZero(first->height);
    e.slices = static_cast<int>(images.size());

    if (images.size() == 1) {
        const int frames = toIntOrZero(first->numberOfFrames);
        if (frames < 2) {
            e.kind = 1;
            return;
        }
        e.kind = 2;
        e.slices = frames;
        if (first->spacingBetweenSlices)
            e.spacing[2] = *first->spacingBetweenSlices;
        else
            DRAVELIN_LOG(1, "DICOM",
                         "Estimating the spacing of single file volumes without SpacingBetweenSlices is not "
                         "implemented yet");
        return;
    }

    // operator!= makes a NaN count as a different orientation.
    for (size_t i = 1; i < images.size(); ++i)
        for (size_t k = 0; k < 6; ++k)
            if (images[i]->imageOrientation[k] != first->imageOrientation[k]) {
                e.kind = 3;
                return;
            }

    refreshOrder(imagesByAcquisition, images, compareAcquisitionNumbers);
    const std::vector<Image*>* ordered = &imagesByAcquisition;
    int index =
        indexOfAscendingNumbers(3, imagesByAcquisition, [](const Image* image) { return image->acquisitionNumber; });
    if (index == -1) {
        refreshOrder(imagesByInstance, images, compareInstanceNumbers);
        ordered = &imagesByInstance;
        index = indexOfAscendingNumbers(3, imagesByInstance, [](const Image* image) { return image->instanceNumber; });
        if (index == -1) {
            e = DimensionsInfo();
            return;
        }
    }

    // The positions come from the sorted copy in which the run was found: there the three
    // images are neighbours by number, which the series order does not promise for
    // acquisition numbers.
    const auto& p0 = (*ordered)[index]->imagePosition;
    const auto& p1 = (*ordered)[index + 1]->imagePosition;
    const auto& p2 = (*ordered)[index + 2]->imagePosition;
    const double d1 = distance(p0, p1);
    const double d2 = distance(p1, p2);
    if (std::fabs(d2 - d1) > 0.01)
        return;
    e.kind = 2;
    e.spacing[2] = d1;
}

void Series::updateDimensions(std::shared_ptr<DatasetCache> cache)
{
    dimensions.clear();
    dimensions = loadDimensions(std::move(cache));
}

std::vector<DimensionsInfo> Series::loadDimensions(std::shared_ptr<DatasetCache> cache) const
{
    std::vector<DimensionsInfo> result;
    std::vector<std::string> locations;
    locations.reserve(images.size());
    for (const Image* image : images) {
        // Instances known only from a PACS query have not been retrieved yet.
        if (image->location.scheme() == "pacs")
            continue;
        std::string text = image->location.string();
        if (!text.empty())
            locations.push_back(std::move(text));
    }

    DicomLoader loader(std::move(locations), nullptr, std::move(cache), nullptr);
    for (const std::vector<ImageDescriptor>& group : loader.loadDescriptors()) {
        if (group.empty())
            continue;
        const ImageDescriptor& d = group.front();
        DimensionsInfo info;
        if (d.slices < 2)
            info.kind = group.size() == 1 ? 1 : 3;
        else
            info.kind = group.size() == 1 ? 2 : 4;
        info.width = d.width;
        info.height = d.height;
        info.slices = d.slices;
        info.spacing = d.spacing;
        info.hasSpacing = d.isMetric;
        result.push_back(info);
    }
    return result;
}

int findIndexOfAscendingNumbers(int count, const std::vector<Image*>& images,
                                const std::function<std::optional<int>(const Image*)>& number)
{
    return indexOfAscendingNumbers(count, images, number);
}

}  // namespace Dravelin::Dicom
