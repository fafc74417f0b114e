#include "host/dicom/deid/BurnedInTextDetector.h"
#include "host/dicom/deid/BurnedInTextRemoval.h"
#include "host/dicom/deid/PixelCleaningRules.h"

#include "tests/support/TestEnvironment.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>
#include <tesseract/baseapi.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace Dravelin::Dicom {
namespace {

enum class Colour { Mono, Rgb, Ybr };
enum class Background { Noise, Gradient };

struct Case
{
    const char* name;
    const char* modality;
    Colour colour;
    int width, height, frames;
    const char* font;
    int size;      // pixels
    int contrast;  // text minus local background, in grey levels (negative: dark text)
    Background background;
};

struct Token
{
    QString text;
    QPoint at;  // baseline start
};

// Names, IDs and dates in the corners and the middle, as devices burn them in.
std::vector<Token> tokensFor(const Case& c, int seed)
{
    static const QStringList names{"DOE^JANE", "MUSTERMANN^ERIKA", "SMITH^JOHN", "NGUYEN^AN"};
    const QString name = names[seed % names.size()];
    const int line = c.size + c.size / 2;
    const int right = c.width - 12 * c.size;
    return {{name, {8, 4 + c.size}},
            {"ID:" + QString::number(4711000 + 37 * seed), {8, 4 + c.size + line}},
            {QStringLiteral("2023-04-%1").arg(5 + seed % 20, 2, 10, QChar('0')), {right, 4 + c.size}},
            {QStringLiteral("13:%1:07").arg(10 + seed % 40), {right, 4 + c.size + line}},
            {"DOB 19" + QString::number(50 + seed % 40) + "0612", {c.width / 3, c.height - 8}}};
}

QImage background(const Case& c, int frame)
{
    QImage image(c.width, c.height, QImage::Format_RGB32);
    QRandomGenerator random(static_cast<quint32>(1000 + frame));
    const bool dark = c.contrast > 0;
    for (int y = 0; y < c.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < c.width; ++x) {
            const int base = c.background == Background::Gradient ? 30 + 90 * x / c.width + 40 * y / c.height : 60;
            const int v = (dark ? base : 255 - base) + static_cast<int>(random.bounded(30)) - 15;
            // Colour images get a tint, so that the grey conversion is exercised.
            line[x] = c.colour == Colour::Mono ? qRgb(v, v, v)
                                               : qRgb(std::clamp(v + 20, 0, 255), v, std::clamp(v - 20, 0, 255));
        }
    }
    return image;
}

// Draws the tokens on `image` and returns each token's ink (pixels it darkens or brightens).
std::vector<QImage> drawTokens(QImage& image, const Case& c, const std::vector<Token>& tokens)
{
    QFont font(c.font);
    font.setPixelSize(c.size);
    std::vector<QImage> inks;
    for (const Token& token : tokens) {
        QImage ink(image.size(), QImage::Format_Grayscale8);
        ink.fill(0);
        QPainter inkPainter(&ink);
        inkPainter.setFont(font);
        inkPainter.setPen(Qt::white);
        inkPainter.drawText(token.at, token.text);
        inkPainter.end();
        inks.push_back(ink);
    }
    QPainter painter(&image);
    painter.setFont(font);
    for (const Token& token : tokens) {
        // The pen follows the local background, so the contrast is the same on gradients.
        const QColor local(image.pixel(token.at));
        const int grey = std::clamp(qGray(local.rgb()) + c.contrast, 0, 255);
        painter.setPen(QColor(grey, grey, grey));
        painter.drawText(token.at, token.text);
    }
    return inks;
}

std::unique_ptr<DcmDataset> datasetOf(const Case& c, const std::vector<QImage>& frames)
{
    auto dataset = std::make_unique<DcmDataset>();
    dataset->putAndInsertString(DCM_Modality, c.modality);
    dataset->putAndInsertString(DCM_SOPClassUID,
                                std::string(c.modality) == "US"
                                    ? (c.frames > 1 ? UID_UltrasoundMultiframeImageStorage : UID_UltrasoundImageStorage)
                                    : UID_SecondaryCaptureImageStorage);
    dataset->putAndInsertUint16(DCM_Rows, c.height);
    dataset->putAndInsertUint16(DCM_Columns, c.width);
    dataset->putAndInsertUint16(DCM_BitsAllocated, 8);
    dataset->putAndInsertUint16(DCM_BitsStored, 8);
    dataset->putAndInsertUint16(DCM_HighBit, 7);
    dataset->putAndInsertUint16(DCM_PixelRepresentation, 0);
    if (c.frames > 1)
        dataset->putAndInsertString(DCM_NumberOfFrames, std::to_string(c.frames).c_str());
    const int samples = c.colour == Colour::Mono ? 1 : 3;
    dataset->putAndInsertUint16(DCM_SamplesPerPixel, samples);
    dataset->putAndInsertString(DCM_PhotometricInterpretation, c.colour == Colour::Mono  ? "MONOCHROME2"
                                                               : c.colour == Colour::Rgb ? "RGB"
                                                                                         : "YBR_FULL");
    if (samples == 3)
        dataset->putAndInsertUint16(DCM_PlanarConfiguration, 0);
    std::vector<Uint8> values;
    for (const QImage& frame : frames)
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const QRgb p = frame.pixel(x, y);
                const double r = qRed(p), g = qGreen(p), b = qBlue(p);
                if (c.colour == Colour::Mono) {
                    values.push_back(static_cast<Uint8>(qGray(p)));
                } else if (c.colour == Colour::Rgb) {
                    values.insert(values.end(), {Uint8(r), Uint8(g), Uint8(b)});
                } else {
                    const auto clamp = [](double v) { return static_cast<Uint8>(std::clamp(v + 0.5, 0.0, 255.0)); };
                    values.insert(values.end(), {clamp(0.299 * r + 0.587 * g + 0.114 * b),
                                                 clamp(128 - 0.168736 * r - 0.331264 * g + 0.5 * b),
                                                 clamp(128 + 0.5 * r - 0.418688 * g - 0.081312 * b)});
                }
            }
    dataset->putAndInsertUint8Array(DCM_PixelData, values.data(), static_cast<unsigned long>(values.size()));
    return dataset;
}

std::vector<Uint8> pixelsOf(DcmDataset& dataset)
{
    const Uint8* data = nullptr;
    unsigned long count = 0;
    dataset.findAndGetUint8Array(DCM_PixelData, data, &count);
    return data ? std::vector<Uint8>(data, data + count) : std::vector<Uint8>();
}

// Per frame, which pixels the regions cover.
std::vector<std::vector<bool>> coverage(const std::vector<PixelCleaner::Region>& regions, int width, int height,
                                        int frames)
{
    std::vector<std::vector<bool>> covered(frames, std::vector<bool>(static_cast<size_t>(width) * height));
    for (const auto& region : regions)
        for (int f = 0; f < frames; ++f)
            if (region.frame < 0 || region.frame == f)
                for (int y = std::max(0, region.rect.top()); y <= std::min(height - 1, region.rect.bottom()); ++y)
                    for (int x = std::max(0, region.rect.left()); x <= std::min(width - 1, region.rect.right()); ++x)
                        covered[f][static_cast<size_t>(y) * width + x] = true;
    return covered;
}

// What Tesseract reads on a frame, shown as the detector shows it.
QString readText(const std::vector<Uint8>& grey, int width, int height)
{
    thread_local tesseract::TessBaseAPI api;
    thread_local const bool ready = [] {
        api.SetVariable("debug_file", "/dev/null");
        return api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
    }();
    if (!ready)
        return QStringLiteral("<no Tesseract>");
    const std::vector<uint8_t> picture = BurnedInTextDetector::standingOut(grey.data(), width, height, width);
    api.SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
    api.SetImage(picture.data(), width, height, 1, width);
    api.SetSourceResolution(70);
    const std::unique_ptr<char[]> text(api.GetUTF8Text());
    return QString::fromUtf8(text.get());
}

QString alphanumeric(const QString& text)
{
    QString out;
    for (const QChar c : text)
        if (c.isLetterOrNumber())
            out += c.toUpper();
    return out;
}

TEST(BurnedInTextRemoval, FindsAndRemovesTheTextDrawnIntoGeneratedImages)
{
    const std::vector<Case> cases{
        {"US mono, sans 8 px on noise", "US", Colour::Mono, 640, 480, 1, "DejaVu Sans", 8, 150, Background::Noise},
        {"US mono, serif 12 px on a gradient", "US", Colour::Mono, 640, 480, 1, "DejaVu Serif", 12, 110,
         Background::Gradient},
        {"US RGB, mono 16 px, low contrast", "US", Colour::Rgb, 800, 600, 1, "DejaVu Sans Mono", 16, 70,
         Background::Noise},
        {"SC YBR_FULL, sans 24 px", "SC", Colour::Ybr, 1024, 768, 1, "DejaVu Sans", 24, 160, Background::Gradient},
        {"SC mono, dark text 14 px on light", "SC", Colour::Mono, 640, 480, 1, "DejaVu Sans", 14, -140,
         Background::Noise},
        {"US cine, 12 frames, condensed 10 px", "US", Colour::Mono, 640, 480, 12, "DejaVu Sans Condensed", 10, 130,
         Background::Gradient},
    };
    int tokens = 0, removed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Token> drawn = tokensFor(c, static_cast<int>(&c - cases.data()));
        std::vector<QImage> frames;
        std::vector<QImage> inks;
        for (int f = 0; f < c.frames; ++f) {
            frames.push_back(background(c, f));
            inks = drawTokens(frames.back(), c, drawn);
        }
        auto dataset = datasetOf(c, frames);
        const std::vector<Uint8> before = pixelsOf(*dataset);
        const BurnedInTextRemoval removal(nullptr, true);
        const BurnedInTextRemoval::Outcome outcome = removal.apply(*dataset, c.name);
        ASSERT_TRUE(outcome.cleaned);
        EXPECT_EQ(Dravelin::Test::text(*dataset, DCM_BurnedInAnnotation), "NO");
        const std::vector<Uint8> after = pixelsOf(*dataset);
        ASSERT_EQ(after.size(), before.size());
        const auto covered = coverage(outcome.regions, c.width, c.height, c.frames);
        const int samples = c.colour == Colour::Mono ? 1 : 3;
        const size_t framePixels = static_cast<size_t>(c.width) * c.height;

        // Pixels outside the boxes are unchanged.
        size_t changedOutside = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            const size_t pixel = i / samples;
            changedOutside += !covered[pixel / framePixels][pixel % framePixels] && after[i] != before[i];
        }
        EXPECT_EQ(changedOutside, 0u);

        // A token is removed when (nearly) all its ink is blacked out on every frame.
        QImage textBoxes(c.width, c.height, QImage::Format_Grayscale8);
        textBoxes.fill(0);
        QPainter boxes(&textBoxes);
        for (size_t t = 0; t < inks.size(); ++t) {
            int ink = 0, hidden = 0;
            QRect bounds;
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x)
                    if (qGray(inks[t].pixel(x, y)) > 96) {
                        ++ink;
                        bounds |= QRect(x, y, 1, 1);
                        bool everywhere = true;
                        for (int f = 0; f < c.frames; ++f)
                            everywhere = everywhere && covered[f][static_cast<size_t>(y) * c.width + x];
                        hidden += everywhere;
                    }
            boxes.fillRect(bounds, Qt::white);
            ++tokens;
            const bool gone = ink > 0 && hidden >= 0.99 * ink;
            removed += gone;
            EXPECT_TRUE(gone) << "token " << t << ": " << hidden << " of " << ink << " ink pixels";
        }
        boxes.end();

        // The blacked-out area is at most three times the text's own boxes.
        size_t textArea = 0, blackedArea = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                textArea += qGray(textBoxes.pixel(x, y)) > 0;
        for (int f = 0; f < c.frames; ++f)
            blackedArea += static_cast<size_t>(std::count(covered[f].begin(), covered[f].end(), true));
        EXPECT_LE(blackedArea, 3 * textArea * c.frames)
            << double(blackedArea) / double(textArea * c.frames)
            << " times the text: " << BurnedInTextRemoval::describe(outcome.regions).toStdString();

        // Tesseract reads none of the drawn tokens on the cleaned first frame.
        std::vector<Uint8> grey(framePixels);
        for (size_t p = 0; p < framePixels; ++p)
            grey[p] = after[p * samples];  // Y, R or grey: enough to show the text
        const QString read = alphanumeric(readText(grey, c.width, c.height));
        for (const Token& token : drawn)
            EXPECT_FALSE(read.contains(alphanumeric(token.text)))
                << "still readable: token at " << token.at.x() << "," << token.at.y();
    }
    EXPECT_GE(removed, 0.99 * tokens) << removed << " of " << tokens << " tokens removed";
}

// The generator's CT phantom (a chequered disc) holds no text, marked or not: no box.
TEST(BurnedInTextRemoval, AGeneratedCtWithoutTextGetsNoBox)
{
    Dravelin::Test::TempDir dir;
    ASSERT_TRUE(Dravelin::Test::runGenerator({"sample", dir.path()}));
    const QStringList files = Dravelin::Test::filesUnder(dir.path());
    ASSERT_GT(files.size(), 10);
    const BurnedInTextRemoval removal(nullptr, true);
    for (const QString& name : files) {
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(QFile::encodeName(dir.file(name)).constData()).good()) << name.toStdString();
        DcmDataset& dataset = *file.getDataset();
        ASSERT_TRUE(dataset.loadAllDataIntoMemory().good());
        dataset.putAndInsertString(DCM_BurnedInAnnotation, "YES");
        const auto outcome = removal.apply(dataset, name);
        EXPECT_TRUE(outcome.regions.empty())
            << name.toStdString() << ": " << BurnedInTextRemoval::describe(outcome.regions).toStdString();
    }
}

TEST(BurnedInTextRemoval, RulesBlackOutExactlyTheirRectanglesOnTheirDevice)
{
    QString error;
    const auto rules = PixelCleaningRules::parse(R"({"rules": [
        {"Modality": "US", "Manufacturer": " acme ", "Rows": 48, "Columns": 64,
         "regions": [{"x": 0, "y": 0, "width": 64, "height": 8}, {"frame": 1, "x": 50, "y": 40, "width": 20, "height": 20}]}]})",
                                                 &error);
    ASSERT_TRUE(rules) << error.toStdString();
    const Case device{"device", "US", Colour::Mono, 64, 48, 2, "DejaVu Sans", 8, 0, Background::Noise};
    struct Variant
    {
        const char* name;
        const char* manufacturer;
        bool cleaned;
    };
    for (const Variant& v : {Variant{"matching", "ACME", true}, Variant{"another maker", "Other", false}}) {
        SCOPED_TRACE(v.name);
        auto dataset = datasetOf(device, {background(device, 0), background(device, 1)});
        dataset->putAndInsertString(DCM_Manufacturer, v.manufacturer);
        dataset->putAndInsertString(DCM_BurnedInAnnotation, "YES");
        const std::vector<Uint8> before = pixelsOf(*dataset);
        const auto outcome = BurnedInTextRemoval(rules, false).apply(*dataset, v.name);
        EXPECT_EQ(outcome.cleaned, v.cleaned);
        EXPECT_EQ(Dravelin::Test::text(*dataset, DCM_BurnedInAnnotation), v.cleaned ? "NO" : "YES");
        const std::vector<Uint8> after = pixelsOf(*dataset);
        const Uint8 darkest = *std::min_element(before.begin(), before.end());
        for (size_t i = 0; i < after.size(); ++i) {
            const int f = static_cast<int>(i / (64 * 48)), x = static_cast<int>(i % 64),
                      y = static_cast<int>(i / 64 % 48);
            const bool inside = y < 8 || (f == 1 && x >= 50 && y >= 40);
            ASSERT_EQ(after[i], v.cleaned && inside ? darkest : before[i]) << "frame " << f << " at " << x << "," << y;
        }
    }
}

TEST(BurnedInTextRemoval, RegionFilesThatCannotBeUsedAreNamedWithTheReason)
{
    const std::vector<std::pair<const char*, const char*>> cases{
        {"[1, 2]", "no \"rules\" array"},
        {"{\"rules\": [{\"Modality\": \"US\"}]}", "rule 1: it has no regions"},
        {R"({"rules": [{"regions": [{"x": 0, "y": 0, "width": 1, "height": 1}]}]})", "rule 1: it names no attribute"},
        {R"({"rules": [{"Modalty": "US", "regions": []}]})", "rule 1: unknown key \"Modalty\""},
        {R"({"rules": [{"Rows": 0, "regions": []}]})", "rule 1: Rows must be a whole number from 1"},
        {R"({"rules": [{"Rows": 4, "regions": [{"x": -1, "y": 0, "width": 1, "height": 1}]}]})",
         "rule 1: a region needs"},
        {"{\"rules\": [", "not JSON"},
    };
    for (const auto& [json, reason] : cases) {
        QString error;
        EXPECT_FALSE(PixelCleaningRules::parse(json, &error)) << json;
        EXPECT_TRUE(error.startsWith(reason)) << json << ": " << error.toStdString();
    }
}

}  // namespace
}  // namespace Dravelin::Dicom
