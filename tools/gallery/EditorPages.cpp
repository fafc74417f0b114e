#include "tools/gallery/EditorPages.h"

#include "browser/models/DicomBrowserModel.h"
#include "editor/BurnedInTextPreview.h"
#include "editor/DicomEditor.h"
#include "editor/DicomEditorAlgorithm.h"
#include "editor/OverrideConfidentialityDialog.h"

#include "host/dicom/deid/BurnedInTextRemoval.h"

#include <QDir>
#include <QFont>
#include <QPainter>
#include <QRandomGenerator>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>
#include <QLineEdit>
#include <QTreeView>

#include <memory>

namespace EditorPages {

using namespace Dravelin;

QWidget* editor(const QString& folder)
{
    // The editor only points at its algorithm; the gallery keeps it for the whole run.
    static DicomEditorAlgorithm algorithm;
    auto* window = new DicomEditor(&algorithm);
    window->setCurrentPath(folder);
    window->browserModel()->scanDirectoryBlocking(folder, true, false, true);
    window->selectAll();
    if (auto* view = window->findChild<QTreeView*>(QStringLiteral("view"))) {
        view->expandToDepth(1);
        const QModelIndex study = view->model()->index(0, 0, view->model()->index(0, 0));
        view->setCurrentIndex(view->model()->index(0, 0, study));
    }
    window->findChild<QLineEdit*>(QStringLiteral("outputDirectoryEdit"))
        ->setText(QDir::home().filePath(QStringLiteral("deidentified")));
    window->resize(1242, 779);
    return window;
}

QWidget* burnedInPreview(bool result)
{
    // An ultrasound frame as devices write them: speckle in a sector, the patient in the corners.
    constexpr int width = 640, height = 480;
    QImage frame(width, height, QImage::Format_Grayscale8);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int dx = x - width / 2;
            const bool sector = dx * dx + y * y < 430 * 430 && std::abs(dx) < y && y > 50;
            frame.scanLine(y)[x] = static_cast<uchar>(sector ? random.bounded(40 + y / 4) : random.bounded(8));
        }
    QPainter painter(&frame);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    painter.setFont(font);
    painter.setPen(QColor(235, 235, 235));
    painter.drawText(10, 20, QStringLiteral("MUSTERMANN^ERIKA"));
    painter.drawText(10, 38, QStringLiteral("ID 4711-0815   DOB 1961-06-12"));
    painter.drawText(500, 20, QStringLiteral("2024-03-18"));
    painter.drawText(500, 38, QStringLiteral("14:22:07"));
    painter.drawText(10, 468, QStringLiteral("C5-1  4.0 MHz  GN 52"));
    painter.end();
    DcmDataset dataset;
    dataset.putAndInsertString(DCM_Modality, "US");
    dataset.putAndInsertUint16(DCM_Rows, height);
    dataset.putAndInsertUint16(DCM_Columns, width);
    dataset.putAndInsertUint16(DCM_SamplesPerPixel, 1);
    dataset.putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    dataset.putAndInsertUint16(DCM_BitsAllocated, 8);
    dataset.putAndInsertUint16(DCM_BitsStored, 8);
    dataset.putAndInsertUint16(DCM_HighBit, 7);
    dataset.putAndInsertUint16(DCM_PixelRepresentation, 0);
    std::vector<Uint8> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        std::copy(frame.constScanLine(y), frame.constScanLine(y) + width, pixels.begin() + y * width);
    dataset.putAndInsertUint8Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()));

    std::vector<Dicom::PixelCleaner::Region> regions;
    Dicom::BurnedInTextRemoval(nullptr, true).propose(dataset, regions, nullptr);
    auto* preview = new BurnedInTextPreview;
    preview->setImage(BurnedInTextPreview::frameImage(dataset, nullptr), regions);
    preview->setShowResult(result);
    preview->resize(700, 620);
    return preview;
}

QWidget* profileDialog(const QString& filter)
{
    auto* dialog = new OverrideConfidentialityDialog(QStringLiteral("Basic Profile"), QString());
    dialog->applySettingsToTable();
    dialog->findChild<QLineEdit*>(QStringLiteral("filterLineEdit"))->setText(filter);
    return dialog;
}

}  // namespace EditorPages
