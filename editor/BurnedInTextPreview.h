#pragma once

#include "host/core/Url.h"
#include "host/dicom/deid/PixelCleaner.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class DcmDataset;
class QCheckBox;
class QLabel;

namespace Dravelin {

class BurnedInTextCanvas;

namespace Dicom {
class BurnedInTextRemoval;
class DatasetCache;
}  // namespace Dicom

// The first image of a series with the boxes that will be blacked out in every image of the
// series, which the user adjusts (adds, removes) before Ok. The image is read and its text found
// on a worker thread; the window stays responsive meanwhile.
class BurnedInTextPreview : public QDialog
{
    Q_OBJECT

public:
    explicit BurnedInTextPreview(QWidget* parent = nullptr);
    ~BurnedInTextPreview() override;

    // Reads `image` and proposes the boxes `removal` finds (in the background).
    void load(const Filesystem::Url& image, std::shared_ptr<const Dicom::BurnedInTextRemoval> removal,
              std::shared_ptr<Dicom::DatasetCache> cache);
    // Shows `frame` with `regions` at once.
    void setImage(const QImage& frame, std::vector<Dicom::PixelCleaner::Region> regions);
    std::vector<Dicom::PixelCleaner::Region> regions() const;
    void setShowResult(bool show);

    // The first frame of a native dataset as an image; null (with `error` set) when it cannot be
    // rendered.
    static QImage frameImage(DcmDataset& dataset, std::string* error);

private:
    void updateStatus();

    BurnedInTextCanvas* m_canvas;
    QLabel* m_status;
    QCheckBox* m_showResult;
    bool m_loading = false;
    std::shared_ptr<bool> m_alive;  // false once the window is gone, for the worker's answer
};

}  // namespace Dravelin
