#include "host/dicom/deid/BurnedInTextDetector.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace Dravelin::Dicom {

namespace {

// Half the side of the square whose mean is a pixel's background: wider than a stroke, narrow
// enough to follow gradients.
constexpr int kRadius = 12;
// Words taller than this are shapes of the image, not annotation.
constexpr int kTallestWord = 80;

tesseract::TessBaseAPI* tesseractOfThisThread(std::string* error)
{
    thread_local std::unique_ptr<tesseract::TessBaseAPI> api;
    thread_local bool failed = false;
    if (!api && !failed) {
        auto made = std::make_unique<tesseract::TessBaseAPI>();
        // Its diagnostics go nowhere: they could quote what it read.
        made->SetVariable("debug_file", "/dev/null");
        if (made->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
            failed = true;
        } else {
            made->SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
            api = std::move(made);
        }
    }
    if (!api && error)
        *error = "Tesseract could not load its English data (package tesseract-ocr-eng)";
    return api.get();
}

bool hasLetterOrDigit(const char* text)
{
    for (const char* c = text; c && *c; ++c)
        if ((*c >= '0' && *c <= '9') || (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z'))
            return true;
    return false;
}

}  // namespace

std::vector<uint8_t> BurnedInTextDetector::standingOut(const uint8_t* pixels, int width, int height, int bytesPerLine)
{
    const int w1 = width + 1;
    std::vector<int64_t> integral(static_cast<size_t>(w1) * (height + 1), 0);
    for (int y = 0; y < height; ++y) {
        int64_t row = 0;
        const uint8_t* line = pixels + static_cast<size_t>(y) * bytesPerLine;
        for (int x = 0; x < width; ++x) {
            row += line[x];
            integral[static_cast<size_t>(y + 1) * w1 + x + 1] = integral[static_cast<size_t>(y) * w1 + x + 1] + row;
        }
    }
    std::vector<int16_t> difference(static_cast<size_t>(width) * height);
    std::vector<int> histogram(256, 0);
    for (int y = 0; y < height; ++y) {
        const int y0 = std::max(0, y - kRadius);
        const int y1 = std::min(height, y + kRadius + 1);
        const uint8_t* line = pixels + static_cast<size_t>(y) * bytesPerLine;
        for (int x = 0; x < width; ++x) {
            const int x0 = std::max(0, x - kRadius);
            const int x1 = std::min(width, x + kRadius + 1);
            const int64_t sum =
                integral[static_cast<size_t>(y1) * w1 + x1] - integral[static_cast<size_t>(y0) * w1 + x1] -
                integral[static_cast<size_t>(y1) * w1 + x0] + integral[static_cast<size_t>(y0) * w1 + x0];
            const int d = line[x] - static_cast<int>(sum / ((x1 - x0) * (y1 - y0)));
            difference[static_cast<size_t>(y) * width + x] = static_cast<int16_t>(d);
            ++histogram[std::min(255, std::abs(d))];
        }
    }
    // The noise: the median absolute difference, scaled to a standard deviation.
    const int64_t half = static_cast<int64_t>(width) * height / 2;
    int median = 0;
    for (int64_t seen = 0; median < 255 && (seen += histogram[median]) < half;)
        ++median;
    const int threshold = std::max(20, static_cast<int>(3.5 * 1.4826 * median));
    std::vector<uint8_t> out(difference.size(), 255);
    for (size_t i = 0; i < difference.size(); ++i)
        if (std::abs(difference[i]) > threshold)
            out[i] = 0;
    return out;
}

bool BurnedInTextDetector::detect(const uint8_t* pixels, int width, int height, int bytesPerLine,
                                  std::vector<QRect>& boxes, std::string* error)
{
    boxes.clear();
    if (width <= 0 || height <= 0)
        return true;
    tesseract::TessBaseAPI* api = tesseractOfThisThread(error);
    if (!api)
        return false;
    const std::vector<uint8_t> picture = standingOut(pixels, width, height, bytesPerLine);
    api->SetImage(picture.data(), width, height, 1, width);
    // Without it Tesseract guesses the resolution and says so on stderr.
    api->SetSourceResolution(70);
    if (api->Recognize(nullptr) != 0) {
        api->Clear();
        if (error)
            *error = "Tesseract could not analyse the frame";
        return false;
    }
    const QRect frame(0, 0, width, height);
    std::unique_ptr<tesseract::ResultIterator> word(api->GetIterator());
    if (word) {
        do {
            int left = 0, top = 0, right = 0, bottom = 0;
            if (!word->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom))
                continue;
            const std::unique_ptr<char[]> text(word->GetUTF8Text(tesseract::RIL_WORD));
            if (!hasLetterOrDigit(text.get()) || bottom - top > kTallestWord)
                continue;
            const int margin = std::max(3, (bottom - top) / 4);
            boxes.push_back(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1))
                                .adjusted(-margin, -margin, margin, margin)
                                .intersected(frame));
        } while (word->Next(tesseract::RIL_WORD));
    }
    api->Clear();
    boxes = merged(std::move(boxes));
    return true;
}

std::vector<QRect> BurnedInTextDetector::merged(std::vector<QRect> boxes)
{
    const auto belongTogether = [](const QRect& a, const QRect& b) {
        if (a.intersects(b))
            return true;
        const int overlap = std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top()) + 1;
        const int lower = std::min(a.height(), b.height());
        const int gap = std::max(a.left(), b.left()) - std::min(a.right(), b.right()) - 1;
        return 2 * overlap >= lower && 2 * gap <= 3 * lower;
    };
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t i = 0; i < boxes.size() && !changed; ++i)
            for (size_t j = i + 1; j < boxes.size() && !changed; ++j)
                if (belongTogether(boxes[i], boxes[j])) {
                    boxes[i] |= boxes[j];
                    boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(j));
                    changed = true;
                }
    }
    return boxes;
}

}  // namespace Dravelin::Dicom
