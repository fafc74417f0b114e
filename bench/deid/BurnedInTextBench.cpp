// Burned-in text detection: seconds per 640x480 frame (goal <= 0.3 s on one core) and a 100-frame
// cine (goal <= 5 s), against the cost of blacking out fixed rectangles in the same run (what a
// region file costs). One thread, so that the figures are per core.
//
//   bench_deid_burned_in [FRAMES]      (default 20 single-frame images, and the 100-frame cine)
#include "host/dicom/deid/BurnedInTextRemoval.h"
#include "host/dicom/deid/PixelCleaner.h"

#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <cstdio>
#include <memory>
#include <vector>

using namespace Dravelin::Dicom;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// A frame as an ultrasound device shows one: speckle in a sector, text in the corners.
std::vector<Uint8> frame(int seed)
{
    QImage image(kWidth, kHeight, QImage::Format_Grayscale8);
    QRandomGenerator random(static_cast<quint32>(seed));
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int dx = x - kWidth / 2, dy = y;
            const bool sector = dx * dx + dy * dy < 440 * 440 && std::abs(dx) < dy;
            image.scanLine(y)[x] = static_cast<uchar>(sector ? random.bounded(160) : random.bounded(12));
        }
    QPainter painter(&image);
    QFont font("DejaVu Sans");
    font.setPixelSize(12 + seed % 3 * 2);
    painter.setFont(font);
    painter.setPen(QColor(230, 230, 230));
    painter.drawText(8, 20, QStringLiteral("DOE^JANE %1").arg(seed));
    painter.drawText(8, 38, QStringLiteral("ID 4711%1").arg(1000 + seed));
    painter.drawText(500, 20, QStringLiteral("2024-03-%1").arg(10 + seed % 18));
    painter.drawText(500, 38, QStringLiteral("12:%1:44").arg(10 + seed % 49));
    painter.end();
    std::vector<Uint8> values(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        std::copy(image.constScanLine(y), image.constScanLine(y) + kWidth, values.begin() + y * kWidth);
    return values;
}

std::unique_ptr<DcmDataset> dataset(int frames, int seed)
{
    auto d = std::make_unique<DcmDataset>();
    d->putAndInsertString(DCM_Modality, "US");
    d->putAndInsertUint16(DCM_Rows, kHeight);
    d->putAndInsertUint16(DCM_Columns, kWidth);
    d->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    d->putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    d->putAndInsertUint16(DCM_BitsAllocated, 8);
    d->putAndInsertUint16(DCM_BitsStored, 8);
    d->putAndInsertUint16(DCM_HighBit, 7);
    d->putAndInsertUint16(DCM_PixelRepresentation, 0);
    d->putAndInsertString(DCM_NumberOfFrames, std::to_string(frames).c_str());
    std::vector<Uint8> all;
    const std::vector<Uint8> still = frame(seed);
    for (int f = 0; f < frames; ++f) {
        // A cine: the speckle moves, the text stays.
        std::vector<Uint8> one = f == 0 ? still : frame(seed + 1000 * f);
        for (int i = 0; i < kWidth * 44; ++i)
            one[i] = still[i];
        all.insert(all.end(), one.begin(), one.end());
    }
    d->putAndInsertUint8Array(DCM_PixelData, all.data(), static_cast<unsigned long>(all.size()));
    return d;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int images = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const BurnedInTextRemoval removal(nullptr, true);

    // Warm-up: the thread's Tesseract instance is made on its first call.
    QElapsedTimer timer;
    timer.start();
    {
        auto d = dataset(1, 999);
        removal.apply(*d, QStringLiteral("warm-up"));
    }
    const double setup = timer.nsecsElapsed() / 1e9;

    std::vector<std::unique_ptr<DcmDataset>> sets;
    for (int i = 0; i < images; ++i)
        sets.push_back(dataset(1, i));
    size_t boxes = 0;
    timer.restart();
    for (auto& d : sets)
        boxes += removal.apply(*d, QStringLiteral("frame")).regions.size();
    const double detect = timer.nsecsElapsed() / 1e9 / images;

    std::vector<std::unique_ptr<DcmDataset>> plain;
    for (int i = 0; i < images; ++i)
        plain.push_back(dataset(1, i));
    const std::vector<PixelCleaner::Region> fixed{{-1, QRect(0, 0, 200, 44)}, {-1, QRect(480, 0, 160, 44)}};
    timer.restart();
    for (auto& d : plain)
        PixelCleaner::clean(*d, fixed, nullptr);
    const double rectangles = timer.nsecsElapsed() / 1e9 / images;

    auto cine = dataset(100, 7);
    timer.restart();
    const auto outcome = removal.apply(*cine, QStringLiteral("cine"));
    const double cineSeconds = timer.nsecsElapsed() / 1e9;

    std::printf("Tesseract set-up (once per thread): %.3f s\n", setup);
    std::printf("detection and cleaning, 640x480 frame: %.3f s/frame (goal <= 0.3), %.1f boxes/frame\n", detect,
                static_cast<double>(boxes) / images);
    std::printf("fixed rectangles only (baseline):      %.5f s/frame; detection costs %.0fx that\n", rectangles,
                detect / rectangles);
    std::printf("100-frame cine: %.2f s (goal <= 5), %zu boxes, %s\n", cineSeconds, outcome.regions.size(),
                outcome.cleaned ? "cleaned" : "NOT cleaned");
    return 0;
}
