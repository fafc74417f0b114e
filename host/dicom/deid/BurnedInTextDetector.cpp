#include "host/dicom/deid/BurnedInTextDetector.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace Dravelin::Dicom {

namespace {

// Half the side of the square whose mean is a pixel's background: wider than a stroke, narrow
// enough to follow gradients.
constexpr int kRadius = 12;
// Words taller than this, or than a tenth of the frame's smaller side, are shapes of the image,
// not annotation: on a small frame the rim of a chequered disc stands out of its neighbourhood
// as text does, and Tesseract reads its pieces as letters a quarter of the frame tall.
constexpr int kTallestWord = 80;

int tallestWord(int width, int height)
{
    return std::min(kTallestWord, std::min(width, height) / 10);
}

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

// The bounding box of the standing-out pixels inside `box` (Tesseract's boxes may be wider than
// the ink); `box` itself when it holds none.
QRect inkWithin(const QRect& box, const std::vector<uint8_t>& picture, int width)
{
    QRect ink;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (picture[static_cast<size_t>(y) * width + x] == 0)
                ink |= QRect(x, y, 1, 1);
    return ink.isEmpty() ? box : ink;
}

bool hasLetterOrDigit(const char* text)
{
    for (const char* c = text; c && *c; ++c)
        if ((*c >= '0' && *c <= '9') || (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z'))
            return true;
    return false;
}

}  // namespace

namespace {

// Sums of values and of their squares over rectangles, in constant time each.
class Integral
{
public:
    Integral(const uint8_t* pixels, int width, int height, int bytesPerLine)
        : m_stride(width + 1), m_sums(static_cast<size_t>(m_stride) * (height + 1), 0), m_squares(m_sums)
    {
        for (int y = 0; y < height; ++y) {
            int64_t row = 0, rowSquares = 0;
            const uint8_t* line = pixels + static_cast<size_t>(y) * bytesPerLine;
            for (int x = 0; x < width; ++x) {
                row += line[x];
                rowSquares += line[x] * line[x];
                const size_t at = static_cast<size_t>(y + 1) * m_stride + x + 1;
                m_sums[at] = m_sums[at - m_stride] + row;
                m_squares[at] = m_squares[at - m_stride] + rowSquares;
            }
        }
    }
    // Mean and standard deviation over the square of `radius` around (x, y), cut by the frame.
    void around(int x, int y, int radius, int width, int height, double& mean, double& deviation) const
    {
        const int x0 = std::max(0, x - radius), x1 = std::min(width, x + radius + 1);
        const int y0 = std::max(0, y - radius), y1 = std::min(height, y + radius + 1);
        const double n = static_cast<double>(x1 - x0) * (y1 - y0);
        mean = sum(m_sums, x0, y0, x1, y1) / n;
        deviation = std::sqrt(std::max(0.0, sum(m_squares, x0, y0, x1, y1) / n - mean * mean));
    }

private:
    double sum(const std::vector<int64_t>& table, int x0, int y0, int x1, int y1) const
    {
        const auto at = [&](int x, int y) { return table[static_cast<size_t>(y) * m_stride + x]; };
        return static_cast<double>(at(x1, y1) - at(x1, y0) - at(x0, y1) + at(x0, y0));
    }
    int m_stride;
    std::vector<int64_t> m_sums;
    std::vector<int64_t> m_squares;
};

}  // namespace

std::vector<uint8_t> BurnedInTextDetector::standingOut(const uint8_t* pixels, int width, int height, int bytesPerLine)
{
    const Integral integral(pixels, width, height, bytesPerLine);
    const size_t count = static_cast<size_t>(width) * height;
    std::vector<int16_t> difference(count);
    std::vector<uint8_t> texture(count);
    std::vector<int> histogram(256, 0);
    for (int y = 0; y < height; ++y) {
        const uint8_t* line = pixels + static_cast<size_t>(y) * bytesPerLine;
        for (int x = 0; x < width; ++x) {
            double mean = 0, deviation = 0, wideMean = 0, wideDeviation = 0;
            integral.around(x, y, kRadius, width, height, mean, deviation);
            integral.around(x, y, 3 * kRadius, width, height, wideMean, wideDeviation);
            const int d = line[x] - static_cast<int>(mean);
            difference[static_cast<size_t>(y) * width + x] = static_cast<int16_t>(d);
            texture[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(std::min(255.0, wideDeviation));
            ++histogram[std::min(255, std::abs(d))];
        }
    }
    // The noise of the frame: the median absolute difference, scaled to a standard deviation.
    const int64_t half = static_cast<int64_t>(count) / 2;
    int median = 0;
    for (int64_t seen = 0; median < 255 && (seen += histogram[median]) < half;)
        ++median;
    const int threshold = std::max(20, static_cast<int>(3.5 * 1.4826 * median));
    // Speckle and anatomy vary strongly all around; text stands out of calmer surroundings, so a
    // pixel must also stand out by twice the variation of its wide neighbourhood.
    std::vector<uint8_t> out(count, 255);
    for (size_t i = 0; i < count; ++i)
        if (std::abs(difference[i]) > std::max(threshold, 2 * static_cast<int>(texture[i])))
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
    std::vector<QRect> words;
    // Held by its base class, whose destructor is not inline: the library stays loaded lazily.
    std::unique_ptr<tesseract::LTRResultIterator> word(api->GetIterator());
    if (word) {
        do {
            int left = 0, top = 0, right = 0, bottom = 0;
            if (!word->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom))
                continue;
            const std::unique_ptr<char[]> text(word->GetUTF8Text(tesseract::RIL_WORD));
            if (hasLetterOrDigit(text.get()) && bottom - top <= tallestWord(width, height))
                words.push_back(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
        } while (word->Next(tesseract::RIL_WORD));
    }
    api->Clear();
    const QRect frame(0, 0, width, height);
    for (const QRect& found : merged(withNeighbours(std::move(words), picture, width, height))) {
        const QRect text = inkWithin(found, picture, width);
        // Antialiased edges and descenders: a quarter of the height, at least 2 pixels.
        const int margin = std::max(2, text.height() / 4);
        boxes.push_back(text.adjusted(-margin, -margin, margin, margin).intersected(frame));
    }
    // The grown boxes may overlap; merged, two lines of small text would black out the space
    // beside the shorter one.
    return true;
}

std::vector<QRect> BurnedInTextDetector::withNeighbours(std::vector<QRect> words, const std::vector<uint8_t>& picture,
                                                        int width, int height)
{
    // The bounding boxes of the blobs of standing-out pixels (8-connected).
    std::vector<QRect> blobs;
    std::vector<uint8_t> seen(picture.size(), 0);
    std::vector<int> stack;
    for (int start = 0; start < width * height; ++start) {
        if (picture[start] != 0 || seen[start])
            continue;
        QRect blob(start % width, start / width, 1, 1);
        seen[start] = 1;
        stack.assign(1, start);
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            const int x = at % width, y = at / width;
            blob |= QRect(x, y, 1, 1);
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    const int next = ny * width + nx;
                    if (nx >= 0 && ny >= 0 && nx < width && ny < height && picture[next] == 0 && !seen[next]) {
                        seen[next] = 1;
                        stack.push_back(next);
                    }
                }
        }
        if (blob.height() <= tallestWord(width, height))
            blobs.push_back(blob);
    }
    // A blob no taller than the word, on its line and within a character's reach of it, is a
    // character Tesseract did not place; it joins the word, and may bring the next one.
    // The line stays the word's: blobs never make it taller step by step.
    for (QRect& box : words) {
        const QRect line = box;
        for (bool grown = true; grown;) {
            grown = false;
            const QRect reach(box.left() - line.height(), line.top(), box.width() + 2 * line.height(), line.height());
            for (const QRect& blob : blobs) {
                if (box.contains(blob) || !reach.intersects(blob) || blob.height() > line.height() + line.height() / 2)
                    continue;
                const int overlap = std::min(line.bottom(), blob.bottom()) - std::max(line.top(), blob.top()) + 1;
                if (2 * overlap < blob.height())
                    continue;
                box |= blob;
                grown = true;
            }
        }
    }
    return words;
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
