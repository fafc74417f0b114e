#pragma once

#include <QHash>
#include <QObject>
#include <QPersistentModelIndex>
#include <QTimer>

class QImage;
class QTreeView;

namespace Dravelin {

class DicomBrowserModel;

namespace Dicom {
class DatasetMemoryLoader;
}

// Asks the memory loader for thumbnails of the series rows a tree view shows, top row first,
// and hands them to the browser model. When the tree changes, scrolls or is resized, the
// requests not started yet are dropped and the rows visible then are asked for (at most once
// per interval, so that a scan's many inserts cost one pass).
class SeriesThumbnails : public QObject
{
    Q_OBJECT

public:
    static constexpr int size = 32;  // pixels, the longer side

    SeriesThumbnails(QTreeView* view, DicomBrowserModel* model, Dicom::DatasetMemoryLoader* loader,
                     QObject* parent = nullptr);

    // Drops the queued requests and asks for the series rows visible now.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleRefresh();
    void onThumbnailReady(quint64 tag, const QImage& thumbnail);

    QTreeView* m_view;
    DicomBrowserModel* m_model;
    Dicom::DatasetMemoryLoader* m_loader;
    QTimer m_timer;
    quint64 m_nextTag = 1;
    QHash<quint64, QPersistentModelIndex> m_requests;  // of the source model
};

}  // namespace Dravelin
