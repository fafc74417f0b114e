#include "browser/models/DatasetPreviewLabel.h"

#include "browser/models/DicomBrowserModel.h"
#include "browser/models/QtHelpers.h"
#include "browser/models/WheelEventFilter.h"
#include "host/app/MainThread.h"
#include "host/core/Log.h"
#include "host/dicom/DatasetCache.h"

#include <QCoreApplication>
#include <QMovie>
#include <QPointer>
#include <QTimer>
#include <QWheelEvent>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <algorithm>

namespace Dravelin::Dicom {

namespace {

int frameCount(const Image* image)
{
    return image ? image->numberOfFrames.toInt() : 0;
}

int clampIndex(int index, int count)
{
    return std::max(0, std::min(index, count - 1));
}

}  // namespace

DatasetPreviewLabel::DatasetPreviewLabel(DicomBrowserModel* model, QWidget* parent) : QLabel(parent), m_model(model)
{
    setMinimumSize(m_thumbnailSize, m_thumbnailSize);
    auto* filter = new WheelEventFilter(
        [this](const QWheelEvent& event) {
            setImageIndex(event.angleDelta().y() < 0 ? m_imageIndex - 1 : m_imageIndex + 1);
            return false;
        },
        this);
    installEventFilter(filter);
}

DatasetPreviewLabel::DatasetPreviewLabel(QWidget* parent) : DatasetPreviewLabel(nullptr, parent) {}

DatasetPreviewLabel::~DatasetPreviewLabel()
{
    // The running task reads members of this label; let it finish before they go away.
    m_worker.cancelTasks();
    m_worker.waitUntilFinished();
}

void DatasetPreviewLabel::setModel(DicomBrowserModel* model)
{
    m_model = model;
}

void DatasetPreviewLabel::setLoadingPlaceholder(QMovie* movie)
{
    m_loadingPlaceholder = movie;
}

void DatasetPreviewLabel::setLoadingPlaceholderDelay(int milliseconds)
{
    m_loadingDelayMs = std::max(0, milliseconds);
}

void DatasetPreviewLabel::setErrorPlaceholder(const QPixmap& pixmap)
{
    m_errorPlaceholder = pixmap.isNull() ? pixmap : pixmap.scaledToWidth(m_thumbnailSize, Qt::SmoothTransformation);
}

int DatasetPreviewLabel::framesCount() const
{
    if (const Image* image = m_current.data(DicomBrowserModel::ImageRole).value<Image*>())
        return frameCount(image);
    if (const Series* series = m_current.data(DicomBrowserModel::SeriesRole).value<Series*>()) {
        if (series->images.size() > 1)
            return static_cast<int>(series->images.size());
        if (series->images.size() == 1)
            return frameCount(series->images.front());
    }
    return 0;
}

void DatasetPreviewLabel::setCurrent(QModelIndex index)
{
    m_current = index;
    const int steps = framesCount();
    m_imageIndex = steps > 1 ? steps / 2 : 0;
    updatePreviewLabel();
}

void DatasetPreviewLabel::setImageIndex(int index)
{
    if (index == m_imageIndex)
        return;
    m_imageIndex = index;
    updatePreviewLabel();
    emit imageIndexChanged(m_imageIndex);
}

void DatasetPreviewLabel::updatePreviewLabel()
{
    if (!m_model) {
        Log::log(1, "Dicom", "DatasetPreviewLabel will be empty without a DicomBrowserModel", __FILE__, __LINE__);
        return;
    }

    const Image* target = nullptr;
    std::optional<int> frame;
    if (const Image* image = m_current.data(DicomBrowserModel::ImageRole).value<Image*>()) {
        target = image;
        const int frames = frameCount(image);
        if (frames > 1) {
            m_imageIndex = clampIndex(m_imageIndex, frames);
            frame = m_imageIndex;
        }
    } else if (const Series* series = m_current.data(DicomBrowserModel::SeriesRole).value<Series*>()) {
        const int images = static_cast<int>(series->images.size());
        if (images >= 2) {
            m_imageIndex = clampIndex(m_imageIndex, images);
            target = series->images[m_imageIndex];
        } else if (images == 1) {
            target = series->images.front();
            m_imageIndex = clampIndex(m_imageIndex, frameCount(target));
            frame = m_imageIndex;
        }
    }

    const unsigned long long request = ++m_request;
    // An older task must not replace what this request shows, the placeholder included.
    m_worker.cancelTasks();
    if (!target) {
        if (m_loadingTimer)
            m_loadingTimer->stop();
        m_shownRequest = request;
        showErrorPlaceholder();
        return;
    }

    if (!m_loadingTimer) {
        m_loadingTimer = new QTimer(this);
        m_loadingTimer->setSingleShot(true);
        connect(m_loadingTimer, &QTimer::timeout, this, &DatasetPreviewLabel::onLoadingTimeout);
    }
    m_loadingTimer->start(m_loadingDelayMs);

    m_worker.enqueue([this, request, cache = m_model->datasetCache(), url = target->location, frame] {
        m_runningRequest = request;
        generatePreview(cache, url, frame);
    });
}

void DatasetPreviewLabel::onLoadingTimeout()
{
    // Reading the file counts as much as rendering it: whatever the latest request still waits
    // for, the movie shows that it is coming.
    if (!movie() && m_shownRequest != m_request && m_loadingPlaceholder) {
        setMovie(m_loadingPlaceholder);
        m_loadingPlaceholder->start();
    }
}

void DatasetPreviewLabel::showErrorPlaceholder()
{
    if (movie())
        movie()->stop();
    setPixmap(m_errorPlaceholder);
}

void DatasetPreviewLabel::generatePreview(std::shared_ptr<DatasetCache> cache, const Filesystem::Url& url,
                                          std::optional<int> frame)
{
    const unsigned long long request = m_runningRequest;
    QImage image;
    const auto datasets = cache ? cache->load(url, nullptr, nullptr, true) : std::vector<std::shared_ptr<DcmDataset>>();
    if (!datasets.empty() && datasets.front()) {
        // Rendering changes the dataset's representation; the cached one stays as it is.
        DcmDataset copy(*datasets.front());
        std::optional<unsigned int> frameNumber;
        if (frame)
            frameNumber = static_cast<unsigned int>(std::max(0, *frame));
        image = QtHelpers::generateThumbnail(copy, true, frameNumber);
    }
    if (Threading::ThreadPool::currentTaskShouldStop())
        return;

    QPointer<DatasetPreviewLabel> self(this);
    QtHelpers::runOnMainThread(
        [self, request, image] {
            if (!self || self->m_request != request)
                return;
            self->m_shownRequest = request;
            if (self->m_loadingTimer)
                self->m_loadingTimer->stop();
            if (image.isNull()) {
                self->showErrorPlaceholder();
                return;
            }
            if (self->movie())
                self->movie()->stop();
            self->setPixmap(QPixmap::fromImage(image.scaledToWidth(self->m_thumbnailSize, Qt::SmoothTransformation)));
        },
        false);
}

QImage DatasetPreviewLabel::thumbnail()
{
    m_worker.waitUntilFinished();
    // The worker hands its result over as a queued call: deliver it before looking.
    if (QCoreApplication* app = QCoreApplication::instance())
        QCoreApplication::sendPostedEvents(app, QEvent::MetaCall);
    const QPixmap shown = pixmap(Qt::ReturnByValue);
    return shown.isNull() ? QImage() : shown.toImage();
}

}  // namespace Dravelin::Dicom

#include "moc_DatasetPreviewLabel.cpp"
