#pragma once

#include "scanning/Base.h"
#include "scanning/DimensionsInfo.h"

#include <QDate>
#include <QString>
#include <QTime>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class DcmItem;

namespace Dravelin::Dicom {

class DatasetCache;
class Image;
class RecordElements;
class Study;

class Series : public Base
{
public:
    explicit Series(Study* study);
    Series(Study* study, DcmItem& item, bool withChildren);
    Series(Study* study, const RecordElements& fields, bool withChildren);
    // Copies the value fields, the dimension list and `checked`; no parent, images,
    // image type, cached orders or estimate.
    Series(const Series& other);
    Series& operator=(const Series&) = delete;
    ~Series() override;

    // Inserts an image whose parent is already set and keeps the cached orders; the estimate
    // is left to estimateDimensions(), once after the last of several inserts.
    void insertImage(std::vector<Image*>::iterator position, Image* image);
    // The part of insertImage() that does not touch `images`, for images (in arrival order)
    // that the caller then puts into `images` itself, before the next change of the series.
    void fileIntoOrders(const std::vector<Image*>& arrivals);
    void estimateDimensions();
    // Replaces `dimensions` by what the host loader reports; may throw what the loader throws.
    void updateDimensions(std::shared_ptr<DatasetCache> cache);
    // What updateDimensions would store, leaving the series as it is (for a worker thread
    // while another thread shows the series).
    std::vector<DimensionsInfo> loadDimensions(std::shared_ptr<DatasetCache> cache) const;

    Study* study = nullptr;  // not owned
    QString seriesInstanceUid;
    QString sopClassUid;
    QTime seriesTime;
    QDate seriesDate;
    QString seriesNumber;
    QString seriesDescription;
    QString imageType;
    QString modality;
    std::vector<DimensionsInfo> dimensions;
    DimensionsInfo estimatedDimensions;
    std::vector<Image*> images;  // owned, series order
    bool checked = false;
    std::vector<Image*> imagesByAcquisition;  // not owned
    std::vector<Image*> imagesByInstance;     // not owned
};

// Index of the first image of the first run of `count` neighbours whose numbers go up by
// exactly one, or -1.
int findIndexOfAscendingNumbers(int count, const std::vector<Image*>& images,
                                const std::function<std::optional<int>(const Image*)>& number);

}  // namespace Dravelin::Dicom
