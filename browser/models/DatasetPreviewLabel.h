#pragma once

#include "host/core/ThreadPool.h"
#include "host/core/Url.h"

#include <QImage>
#include <QLabel>
#include <QPersistentModelIndex>
#include <QPixmap>

#include <atomic>
#include <memory>
#include <optional>

class QMovie;
class QTimer;

namespace Dravelin {

class DicomBrowserModel;

namespace Dicom {

class DatasetCache;

// A thumbnail of the image or series selected in the browser. Thumbnails are made on a worker
// thread from the model's dataset cache; a newer request supersedes an older one. The mouse
// wheel steps through the images of a series or the frames of a multi-frame image.
class DatasetPreviewLabel : public QLabel
{
    Q_OBJECT

public:
    DatasetPreviewLabel(DicomBrowserModel* model, QWidget* parent = nullptr);
    explicit DatasetPreviewLabel(QWidget* parent = nullptr);
    ~DatasetPreviewLabel() override;

    void setModel(DicomBrowserModel* model);
    // Shown while a thumbnail takes longer than the delay (a second unless set); not owned.
    void setLoadingPlaceholder(QMovie* movie);
    void setLoadingPlaceholderDelay(int milliseconds);
    // Shown when there is nothing to preview or the preview failed.
    void setErrorPlaceholder(const QPixmap& pixmap);
    int thumbnailSize() const { return m_thumbnailSize; }

    int imageIndex() const { return m_imageIndex; }
    void setImageIndex(int index);
    // The steps the wheel can take for the current index (images of a series or frames).
    int framesCount() const;

    // Waits for the worker, delivers its pending result and returns what the label shows.
    QImage thumbnail();

    // Runs on the worker thread.
    void generatePreview(std::shared_ptr<DatasetCache> cache, const Filesystem::Url& url, std::optional<int> frame);

public Q_SLOTS:
    void setCurrent(QModelIndex index);

Q_SIGNALS:
    void imageIndexChanged(int index);

private:
    void updatePreviewLabel();
    void showErrorPlaceholder();
    void onLoadingTimeout();

    int m_thumbnailSize = 200;
    DicomBrowserModel* m_model = nullptr;
    QMovie* m_loadingPlaceholder = nullptr;
    QPixmap m_errorPlaceholder;
    QPersistentModelIndex m_current;
    int m_imageIndex = 0;
    Threading::ThreadPool m_worker{1};
    QTimer* m_loadingTimer = nullptr;
    int m_loadingDelayMs = 1000;
    // Bumped on every request (GUI thread); a result is shown only while its request is the latest.
    unsigned long long m_request = 0;
    // The request whose result (or placeholder) the label shows (GUI thread).
    unsigned long long m_shownRequest = 0;
    std::atomic<unsigned long long> m_runningRequest{0};
};

}  // namespace Dicom
}  // namespace Dravelin
