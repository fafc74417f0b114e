#include "browser/widgets/SeriesThumbnails.h"

#include "browser/models/DatasetMemoryLoader.h"
#include "browser/models/DicomBrowserModel.h"

#include <QAbstractProxyModel>
#include <QEvent>
#include <QImage>
#include <QScrollBar>
#include <QTreeView>

#include <optional>

namespace Dravelin {

namespace {

constexpr int refreshIntervalMs = 200;

}  // namespace

SeriesThumbnails::SeriesThumbnails(QTreeView* view, DicomBrowserModel* model, Dicom::DatasetMemoryLoader* loader,
                                   QObject* parent)
    : QObject(parent), m_view(view), m_model(model), m_loader(loader)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(refreshIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &SeriesThumbnails::refresh);
    QAbstractItemModel* shown = view->model();
    connect(shown, &QAbstractItemModel::rowsInserted, this, &SeriesThumbnails::scheduleRefresh);
    connect(shown, &QAbstractItemModel::rowsRemoved, this, &SeriesThumbnails::scheduleRefresh);
    connect(shown, &QAbstractItemModel::layoutChanged, this, &SeriesThumbnails::scheduleRefresh);
    connect(shown, &QAbstractItemModel::modelReset, this, &SeriesThumbnails::scheduleRefresh);
    connect(view, &QTreeView::expanded, this, &SeriesThumbnails::scheduleRefresh);
    connect(view, &QTreeView::collapsed, this, &SeriesThumbnails::scheduleRefresh);
    connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this, &SeriesThumbnails::scheduleRefresh);
    view->viewport()->installEventFilter(this);
    connect(loader, &Dicom::DatasetMemoryLoader::thumbnailReady, this, &SeriesThumbnails::onThumbnailReady,
            Qt::QueuedConnection);
}

bool SeriesThumbnails::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show)
        scheduleRefresh();
    return QObject::eventFilter(watched, event);
}

void SeriesThumbnails::scheduleRefresh()
{
    // Not restarted: a stream of changes still gets a pass every interval.
    if (!m_timer.isActive())
        m_timer.start();
}

void SeriesThumbnails::refresh()
{
    m_timer.stop();
    m_loader->cancelThumbnails();
    // A request already running answers to a tag forgotten here; its row is asked for again.
    m_requests.clear();
    if (!m_view->isVisible())
        return;
    const auto* proxy = qobject_cast<const QAbstractProxyModel*>(m_view->model());
    const int bottom = m_view->viewport()->height();
    for (QModelIndex row = m_view->indexAt(QPoint(0, 0)); row.isValid() && m_view->visualRect(row).top() < bottom;
         row = m_view->indexBelow(row)) {
        const QModelIndex source = proxy ? proxy->mapToSource(row.siblingAtColumn(0)) : row.siblingAtColumn(0);
        Dicom::Series* series = DicomBrowserModel::toSeries(source);
        if (!series || series->images.empty() || m_model->hasSeriesThumbnail(series))
            continue;
        // The middle image, or the middle frame of a single multi-frame image, as the preview shows.
        const std::size_t count = series->images.size();
        const Dicom::Image* image = series->images[count / 2];
        std::optional<unsigned> frame;
        if (count == 1) {
            const int frames = image->numberOfFrames.toInt();
            if (frames > 1)
                frame = static_cast<unsigned>(frames / 2);
        }
        // Other locations (web, PACS) would cost a transfer per row.
        if (!image->location.isLocalFile())
            continue;
        const quint64 tag = m_nextTag++;
        m_requests.insert(tag, QPersistentModelIndex(source));
        m_loader->addThumbnailRequest(tag, image->location, frame, size, 0);
    }
}

void SeriesThumbnails::onThumbnailReady(quint64 tag, const QImage& thumbnail)
{
    const QPersistentModelIndex row = m_requests.take(tag);
    if (row.isValid())
        m_model->setSeriesThumbnail(row, thumbnail);
}

}  // namespace Dravelin

#include "moc_SeriesThumbnails.cpp"
