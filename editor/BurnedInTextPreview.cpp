#include "editor/BurnedInTextPreview.h"

#include "editor/BurnedInTextCanvas.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/deid/BurnedInTextRemoval.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFutureWatcher>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

namespace Dravelin {

namespace {

struct Proposal
{
    QImage frame;
    std::vector<Dicom::PixelCleaner::Region> regions;
    QString error;
};

}  // namespace

BurnedInTextPreview::BurnedInTextPreview(QWidget* parent)
    : QDialog(parent), m_canvas(new BurnedInTextCanvas), m_alive(std::make_shared<bool>(true))
{
    setWindowTitle(tr("Clean burned-in text"));
    auto* layout = new QVBoxLayout(this);
    auto* help =
        new QLabel(tr("The boxes are blacked out in every image of this series. Drag to add a box, "
                      "right-click a box to remove it."));
    help->setWordWrap(true);
    layout->addWidget(help);
    m_canvas->setObjectName(QStringLiteral("burnedInCanvas"));
    layout->addWidget(m_canvas, 1);
    auto* row = new QHBoxLayout;
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("burnedInStatus"));
    m_showResult = new QCheckBox(tr("Show the result"));
    m_showResult->setObjectName(QStringLiteral("showResultCheckBox"));
    connect(m_showResult, &QCheckBox::toggled, m_canvas, &BurnedInTextCanvas::setShowResult);
    row->addWidget(m_status, 1);
    row->addWidget(m_showResult);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(m_canvas, &BurnedInTextCanvas::regionsChanged, this, &BurnedInTextPreview::updateStatus);
    updateStatus();
}

BurnedInTextPreview::~BurnedInTextPreview()
{
    *m_alive = false;
}

void BurnedInTextPreview::load(const Filesystem::Url& image, std::shared_ptr<const Dicom::BurnedInTextRemoval> removal,
                               std::shared_ptr<Dicom::DatasetCache> cache)
{
    m_loading = true;
    updateStatus();
    auto* watcher = new QFutureWatcher<Proposal>(this);
    const std::shared_ptr<bool> alive = m_alive;
    connect(watcher, &QFutureWatcher<Proposal>::finished, this, [this, watcher, alive] {
        watcher->deleteLater();
        if (!*alive)
            return;
        const Proposal proposal = watcher->result();
        m_loading = false;
        setImage(proposal.frame, proposal.regions);
        if (!proposal.error.isEmpty())
            m_status->setText(proposal.error);
    });
    watcher->setFuture(QtConcurrent::run([image, removal, cache] {
        Proposal proposal;
        const auto datasets = cache->load(image, nullptr, nullptr, true);
        if (datasets.empty() || !datasets.front()) {
            proposal.error = tr("The image cannot be read.");
            return proposal;
        }
        // The cache hands out a copy of its own, which may be decoded here.
        DcmDataset& dataset = *datasets.front();
        std::string error;
        if (!removal->propose(dataset, proposal.regions, &error) ||
            (proposal.frame = frameImage(dataset, &error)).isNull())
            proposal.error = tr("The image cannot be shown: %1").arg(QString::fromStdString(error));
        return proposal;
    }));
}

void BurnedInTextPreview::setImage(const QImage& frame, std::vector<Dicom::PixelCleaner::Region> regions)
{
    m_canvas->setImage(frame, std::move(regions));
    updateStatus();
}

QImage BurnedInTextPreview::frameImage(DcmDataset& dataset, std::string* error)
{
    std::vector<uint8_t> grey;
    int width = 0, height = 0;
    if (!Dicom::BurnedInTextRemoval::renderFrame(dataset, 0, grey, width, height, error))
        return QImage();
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        std::copy(grey.begin() + static_cast<ptrdiff_t>(y) * width,
                  grey.begin() + static_cast<ptrdiff_t>(y + 1) * width, image.scanLine(y));
    return image;
}

std::vector<Dicom::PixelCleaner::Region> BurnedInTextPreview::regions() const
{
    return m_canvas->regions();
}

void BurnedInTextPreview::setShowResult(bool show)
{
    m_showResult->setChecked(show);
}

void BurnedInTextPreview::updateStatus()
{
    m_status->setText(m_loading ? tr("Looking for text...")
                                : tr("%n box(es) to black out", nullptr, static_cast<int>(m_canvas->regions().size())));
}

}  // namespace Dravelin

#include "moc_BurnedInTextPreview.cpp"
